#include "ui/qt/file_chooser.h"

#include <QFile>
#include <QFileDialog>
#include <algorithm>

#include "resources/strings/string_table.h"

QStringList ChooserFilters() {
    // Each description gets its patterns in the dialog's own form, so "pictures
    // (*.bmp,*.jpg)" still filters.
    const QStringList parts = QString::fromUtf8(resources::LoadString(resources::kIdsFileFilter))
                                  .split(QLatin1Char('|'), Qt::KeepEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

bool ChooseFilesDialog(QWidget* parent, std::vector<std::string>& files) {
    const QStringList names = QFileDialog::getOpenFileNames(
        parent, QString::fromUtf8(resources::LoadString(resources::kIdsChooserTitle)), QString(),
        ChooserFilters().join(QStringLiteral(";;")));
    if (names.isEmpty()) return false;
    for (const QString& name : names) {
        const std::string path = QFile::encodeName(name).toStdString();
        if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
    }
    return true;
}
