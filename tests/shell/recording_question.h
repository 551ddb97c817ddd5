// The default-types question for tests: answers as told, counts the questions and records
// what the system kept offers.
#pragma once

#include <string>
#include <vector>

#include "shell/file_types.h"

class CRecordingQuestion final : public IDefaultTypesQuestion {
  public:
    Answer answer = kYes;
    bool openSettings = false;  // the answer to the offer
    int asked = 0;
    std::vector<std::vector<std::string>> offers;

    Answer Ask(bool&) override {
        ++asked;
        return answer;
    }
    bool OfferSystemSettings(const std::vector<std::string>& extensions) override {
        offers.push_back(extensions);
        return openSettings;
    }
};
