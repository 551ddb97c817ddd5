// The program's user texts by their resource ids, in English and German. The
// language follows the system locale: one that starts with "de" gives German.
#pragma once

#include <string>

namespace resources {

enum class Language { kEnglish, kGerman };

// Ids of the texts of the install cycle and its messages.
enum StringId : int {
    kIdsConnected = 102,         // "Connection established..."
    kIdsWaiting = 103,           // "[%d] Waiting for connect on port %s... (press HotSync)"
    kIdsPortBusy = 104,          // "port %s busy"
    kIdsReady = 105,             // "Ready (%2.1f seconds / %2.1f %s) !"
    kIdsFinishedErrors = 106,    // "Finished (%2.1f seconds) with errors"
    kIdsTransferred = 107,       // "[%d%%] transferred"
    kIdsUploadReady = 108,       // "Pilot upload ready!"
    kIdsUnknownFormat = 135,     // error 18
    kIdsDeviceFull = 136,        // error 3
    kIdsErrorTitle = 137,        // caption of the archive's error box
    kIdsConnectionBroken = 139,  // any other error code
    kIdsCancelling = 140,        // "Cancel transfer (please wait)..."
    kIdsNeedColor = 144,         // error 51
    kIdsNeedEzCpu = 145,         // error 52
    kIdsConnectionLost = 147,    // error 4
    kIdsNeedOsVersion = 148,     // error 53
    kIdsMidiTooBig = 153,        // error 25
    kIdsConverting = 161,        // "Converting"
};

// German for a locale text that starts with "de", English otherwise (also for null).
Language LanguageFromLocale(const char* locale);
// From LC_ALL, else LC_MESSAGES, else LANG, as the C library ranks them.
Language SystemLanguage();

// The language LoadString uses; SystemLanguage() until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// The text of an id in the language; the English text where the language has none;
// an empty text for an unknown id. The pointer stays valid for the process.
const char* LoadString(int id, Language language);
const char* LoadString(int id);

// The text of an id filled in the manner of printf.
std::string FormatString(int id, ...);

}  // namespace resources
