// The open-file dialog for files to install (title string 146, filter string 129, several
// files, existing ones only): the window's "Add" and start-up's chooser.
#pragma once

#include <QStringList>
#include <string>
#include <vector>

class QWidget;

// The filter from the resource's "|"-separated pairs, in the dialog's own form.
QStringList ChooserFilters();

// Shows the dialog; on OK appends every chosen full path that files does not already hold
// (exact comparison) and returns true.
bool ChooseFilesDialog(QWidget* parent, std::vector<std::string>& files);
