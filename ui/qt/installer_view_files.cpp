// The main window's lists as Qt shows them: the file list's rows and columns, the recent
// files in the File menu, the port box's list telling where each port goes, and drops.
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "ui/installer_layout.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/installer_view.h"
#include "ui/uri_list.h"

using namespace installer;

namespace {

// The full text of a port box entry; the entry's own text is the port's name.
constexpr int kLabelRole = Qt::UserRole + 1;

// The opened list shows each entry's full text, the closed box its name.
class CPortLabelDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant label = index.data(kLabelRole);
        if (label.isValid()) option->text = label.toString();
    }
};

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void CInstallerView::ShowFiles(const std::vector<FileRow>& rows) {
    m_pListView->clear();
    for (const FileRow& row : rows) {
        auto* item = new QTreeWidgetItem(m_pListView);
        item->setText(kColName, Q(row.name));
        item->setText(kColSize, Q(row.size));
        item->setText(kColWhere, Q(row.where));
        item->setText(kColPath, Q(row.path));
        for (int column = 0; column < 4; ++column) item->setToolTip(column, Q(row.tip));
    }
}

std::vector<int> CInstallerView::SelectedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < m_pListView->topLevelItemCount(); ++i) {
        if (m_pListView->topLevelItem(i)->isSelected()) rows.push_back(i);
    }
    return rows;
}

void CInstallerView::ShowWhereColumn(bool shown) {
    // When it shows, the name and the path each give up half its room, so that both stay
    // readable and the list needs no scrolling.
    m_pListView->setColumnHidden(kColWhere, !shown);
    const int nameWidth = kColumnWidths[0] * dlg::BaseUnitsOf(font()).x / 6;
    const int half = shown ? m_pListView->columnWidth(kColWhere) / 2 : 0;
    m_pListView->setColumnWidth(kColName, nameWidth - half);
}

void CInstallerView::ShowRecentFiles(const std::vector<std::string>& texts) {
    if (!m_pFileMenu) return;
    for (QAction* action : m_pFileMenu->actions()) {
        const int id = action->data().toInt();
        if (id >= kCmdFirstRecent && id <= kCmdLastRecent) {
            // The menu may be rebuilt by one of these very items being chosen.
            m_pFileMenu->removeAction(action);
            action->deleteLater();
        }
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        QAction* action = m_pFileMenu->addAction(Q(texts[i]));
        action->setData(kCmdFirstRecent + static_cast<int>(i));
    }
}

QString CInstallerView::PortLabel(int index) const {
    return m_pPortBox->itemData(index, kLabelRole).toString();
}

void CInstallerView::ShowPortLabels(const std::vector<std::string>& labels) {
    if (!dynamic_cast<CPortLabelDelegate*>(m_pPortBox->itemDelegate())) {
        m_pPortBox->setItemDelegate(new CPortLabelDelegate(m_pPortBox));
    }
    const QFontMetrics metrics(m_pPortBox->view()->font());
    int widest = 0;
    for (int i = 0; i < m_pPortBox->count() && static_cast<size_t>(i) < labels.size(); ++i) {
        const QString label = Q(labels[size_t(i)]);
        m_pPortBox->setItemData(i, label, kLabelRole);
        m_pPortBox->setItemData(i, label, Qt::ToolTipRole);
        widest = std::max(widest, metrics.horizontalAdvance(label));
    }
    // The list is as wide as its longest text, however narrow the box.
    const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 3;
    m_pPortBox->view()->setMinimumWidth(std::max(m_pPortBox->width(), widest + padding));
    m_pPortBox->setToolTip(PortLabel(m_pPortBox->currentIndex()));
}

void CInstallerView::DropUriList(const std::string& uriList) {
    if (m_dialog.m_bTransferRunning) return;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::vector<std::string> paths, remote;
    for (const DroppedUri& item : ParseUriList(uriList, host)) {
        (item.local ? paths : remote).push_back(item.local ? item.path : item.address);
    }
    m_dialog.DropFiles(paths, remote);
}

void CInstallerView::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_dialog.m_bTransferRunning &&
        event->mimeData()->hasFormat(QStringLiteral("text/uri-list"))) {
        event->acceptProposedAction();
    }
}

void CInstallerView::dropEvent(QDropEvent* event) {
    if (m_dialog.m_bTransferRunning) return;
    const QByteArray list = event->mimeData()->data(QStringLiteral("text/uri-list"));
    event->acceptProposedAction();
    DropUriList(list.toStdString());
}
