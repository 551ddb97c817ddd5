#include "ui/qt/dialog_builder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <vector>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/link_icons.h"

namespace dlg {

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    BaseUnits units;
    units.x = std::max(1, (width / 26 + 1) / 2);
    units.y = std::max(1, fm.height());
    return units;
}

QRect DuToPx(const DuRect& r, const BaseUnits& units) {
    const int left = DuToPxX(r.x, units);
    const int top = DuToPxY(r.y, units);
    return QRect(left, top, DuToPxX(r.x + r.w, units) - left, DuToPxY(r.y + r.h, units) - top);
}

CDialogBuilder::CDialogBuilder(QWidget* client, const QFont& font)
    : m_client(client), m_font(font), m_units(BaseUnitsOf(font)) {}

QSize CDialogBuilder::ClientSize(const Template& tpl) const {
    return QSize(DuToPxX(tpl.width, m_units), DuToPxY(tpl.height, m_units));
}

std::map<int, QWidget*> CDialogBuilder::Build(const Template& tpl) {
    m_client->setFont(m_font);
    std::map<int, QWidget*> widgets;
    for (const Control& c : tpl.controls) {
        QWidget* w = Make(c, tpl.resourceId);
        w->setObjectName(QString::number(c.id));
        QRect r = DuToPx(c.rect, m_units);
        // A drop-down list's rectangle includes the opened list; it shows at its own height.
        if (c.kind == Kind::kDropList) r.setHeight(w->sizeHint().height());
        w->setGeometry(r);
        widgets[c.id] = w;
    }
    return widgets;
}

QWidget* CDialogBuilder::Make(const Control& c, int resourceId) {
    const QString text =
        c.textItem ? QString::fromUtf8(resources::LoadItemText(resourceId, c.textItem)) : QString();
    QWidget* w = nullptr;
    switch (c.kind) {
        case Kind::kGroupBox:
            w = new QGroupBox(text, m_client);
            break;
        case Kind::kListView: {
            auto* view = new QTreeWidget(m_client);
            view->setRootIsDecorated(false);
            view->setUniformRowHeights(true);
            view->setSelectionMode((c.style & kMultiSelect) ? QAbstractItemView::ExtendedSelection
                                                            : QAbstractItemView::SingleSelection);
            view->setSelectionBehavior(QAbstractItemView::SelectRows);
            view->setSortingEnabled(false);
            if (c.style & kNoSortHeader) view->header()->setSectionsClickable(false);
            view->header()->setStretchLastSection(false);
            w = view;
            break;
        }
        case Kind::kPushButton:
        case Kind::kDefPushButton: {
            auto* button = new QPushButton(text, m_client);
            button->setAutoDefault(false);
            button->setDefault(c.kind == Kind::kDefPushButton);
            w = button;
            break;
        }
        case Kind::kStatic: {
            auto* label = new QLabel(text, m_client);
            if (c.style & kWordWrap) {
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            }
            w = label;
            break;
        }
        case Kind::kDropList:
            w = new QComboBox(m_client);
            break;
        case Kind::kProgress: {
            auto* bar = new QProgressBar(m_client);
            bar->setTextVisible(false);
            w = bar;
            break;
        }
        case Kind::kCheckBox:
            w = new QCheckBox(text, m_client);
            break;
        case Kind::kIcon: {
            auto* icon = new QLabel(m_client);
            icon->setAlignment(Qt::AlignCenter);
            w = icon;
            break;
        }
        case Kind::kEdit: {
            // Without a horizontal scroll bar the lines wrap, as an edit control's do.
            auto* edit = new QPlainTextEdit(text, m_client);
            edit->setReadOnly(c.style & kReadOnly);
            edit->setLineWrapMode((c.style & kHScroll) ? QPlainTextEdit::NoWrap
                                                       : QPlainTextEdit::WidgetWidth);
            edit->setVerticalScrollBarPolicy((c.style & kVScroll) ? Qt::ScrollBarAsNeeded
                                                                  : Qt::ScrollBarAlwaysOff);
            w = edit;
            break;
        }
    }
    w->setFocusPolicy((c.style & kTabStop) || c.kind == Kind::kPushButton ||
                              c.kind == Kind::kDefPushButton || c.kind == Kind::kCheckBox ||
                              c.kind == Kind::kDropList || c.kind == Kind::kEdit
                          ? Qt::StrongFocus
                          : Qt::NoFocus);
    return w;
}

void CDialogBuilder::BuildMenu(QMenuBar* bar, int resourceId, std::span<const MenuItem> items,
                               std::map<int, QAction*>& actions, std::map<int, QMenu*>& popups) {
    std::vector<QMenu*> open;  // the popups being filled, innermost last
    const auto text = [&](int item) {
        return QString::fromUtf8(resources::LoadItemText(resourceId, item));
    };
    for (const MenuItem& item : items) {
        switch (item.kind) {
            case MenuKind::kPopup: {
                QMenu* menu = open.empty() ? bar->addMenu(text(item.textItem))
                                           : open.back()->addMenu(text(item.textItem));
                popups[item.textItem] = menu;
                open.push_back(menu);
                break;
            }
            case MenuKind::kEnd:
                if (!open.empty()) open.pop_back();
                break;
            case MenuKind::kSeparator:
                if (!open.empty()) open.back()->addSeparator();
                break;
            case MenuKind::kCommand:
            case MenuKind::kCheck: {
                QAction* action = open.empty() ? bar->addAction(text(item.textItem))
                                               : open.back()->addAction(text(item.textItem));
                action->setCheckable(item.kind == MenuKind::kCheck);
                action->setData(item.id);
                actions[item.id] = action;
                break;
            }
        }
    }
}

std::map<int, QWidget*> BuildFixedDialog(QDialog& dialog, const Template& tpl) {
    dialog.setWindowTitle(
        QString::fromUtf8(resources::LoadItemText(tpl.resourceId, resources::kItemCaption)));
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dialog.setWindowIcon(linkicons::ApplicationIcon());
    auto* client = new QWidget(&dialog);
    CDialogBuilder builder(client, dialog.font());
    std::map<int, QWidget*> items = builder.Build(tpl);
    const QSize size = builder.ClientSize(tpl);
    client->setGeometry(0, 0, size.width(), size.height());
    dialog.setFixedSize(size);
    return items;
}

void SetColumns(QTreeWidget* list, std::span<const int> titles, std::span<const int> widths) {
    list->setColumnCount(static_cast<int>(titles.size()));
    QStringList headers;
    for (int id : titles) headers << QString::fromUtf8(resources::LoadString(id));
    list->setHeaderLabels(headers);
    const int baseX = BaseUnitsOf(list->window()->font()).x;
    for (size_t c = 0; c < widths.size() && c < titles.size(); ++c) {
        list->setColumnWidth(static_cast<int>(c), widths[c] * baseX / 6);
    }
}

bool AskYesNo(QWidget* parent, const QString& title, const std::string& text) {
    QMessageBox box(QMessageBox::Question, title, QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void KeepSelectionShown(QTreeWidget* list) {
    QPalette palette = list->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    list->setPalette(palette);
}

}  // namespace dlg
