// The main window's share of the ports: the port box's list telling where each port goes
// (the names the settings and the command line use stay the box's entries), and the
// connection check of the Help menu.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QStyledItemDelegate>

#include "shell/connection_report.h"
#include "shell/settings_store.h"
#include "ui/connection_check_view.h"
#include "ui/installer_dlg.h"

namespace {

// The full text of a port box entry; the entry's own text is the port's name.
constexpr int kLabelRole = Qt::UserRole + 1;
constexpr int kUsbIndex = 8;
constexpr int kNetIndex = 9;

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

std::string EntryName(int index) {
    if (index == kUsbIndex) return "USB";
    if (index == kNetIndex) return "NET";
    return "COM" + std::to_string(index + 1);
}

}  // namespace

QString CInstallerDlg::PortLabel(int index) const {
    return m_pPortBox->itemData(index, kLabelRole).toString();
}

void CInstallerDlg::RefreshPortLabels() {
    if (!m_services.connectionProbe) return;
    if (!dynamic_cast<CPortLabelDelegate*>(m_pPortBox->itemDelegate())) {
        m_pPortBox->setItemDelegate(new CPortLabelDelegate(m_pPortBox));
    }
    const ConnectionFacts facts = m_services.connectionProbe->Probe(false, {}, 0);
    const QFontMetrics metrics(m_pPortBox->view()->font());
    int widest = 0;
    for (int i = 0; i < m_pPortBox->count() && i <= kNetIndex; ++i) {
        const QString label = QString::fromStdString(PortBoxLabel(facts, m_settings, EntryName(i)));
        m_pPortBox->setItemData(i, label, kLabelRole);
        m_pPortBox->setItemData(i, label, Qt::ToolTipRole);
        widest = std::max(widest, metrics.horizontalAdvance(label));
    }
    // The list is as wide as its longest text, however narrow the box.
    const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 3;
    m_pPortBox->view()->setMinimumWidth(std::max(m_pPortBox->width(), widest + padding));
    m_pPortBox->setToolTip(PortLabel(m_pPortBox->currentIndex()));
}

void CInstallerDlg::OnCheckConnection() {
    if (m_bTransferRunning || !m_services.connectionProbe) return;
    CConnectionCheckView dialog(*m_services.connectionProbe, m_settings, GetPortName(), this);
    if (m_execDialog) {
        m_execDialog(dialog);
    } else {
        dialog.exec();
    }
}
