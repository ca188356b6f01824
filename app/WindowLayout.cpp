#include "app/WindowLayout.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimeEdit>

#include <array>

#include "app/ComLed.h"
#include "app/ValueFieldStyle.h"
#include "app/Fonts.h"
#include "app/LayoutTables.h"
#include "app/LedIndicator.h"
#include "exchanges/LocaleFormats.h"
#include "app/PageControl.h"
#include "app/ComboBox.h"
#include "app/SpinEdit.h"
#include "serial/ComPort.h"

namespace {

// Rows of the drop-down lists are 16 pixels high.
class FixedRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 16);
    }
};

// The picture on the masks' "Ok" buttons: a green tick.
QIcon OkPicture()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    painter.setPen(QPen(QColor(0, 128, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tick);
    return QIcon(pixmap);
}

// Controls drawn on their parent's surface rather than taking input of their
// own; they stay beneath the input controls, whatever their creation order.
bool IsGraphic(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Frame:
    case ControlKind::Line:
    case ControlKind::Label:
    case ControlKind::Separator:
    case ControlKind::Led:
    case ControlKind::ComLed:
        return true;
    default:
        return false;
    }
}

class Builder {
public:
    Builder(QWidget* form, WindowControls& out) : form_(form), out_(out) {}

    void Run();

private:
    void add(QWidget* widget, const QString& name);
    QWidget* parentOf(const QString& name) const;
    QLabel* makeLabel(const AttachedLabel& label, QWidget* parent);
    QWidget* makeControl(const ControlRow& row, QWidget* parent);
    void buildPage(const PageTable& page);
    void buildMenu();

    QWidget* form_;
    WindowControls& out_;
    ValueFieldStyle* fieldStyle_ = nullptr;   // one for all the window's value fields
};

void Builder::add(QWidget* widget, const QString& name)
{
    Q_ASSERT_X(!out_.byName.contains(name), "BuildWindowLayout", qPrintable(name));
    widget->setObjectName(name);
    out_.byName.insert(name, widget);
}

QWidget* Builder::parentOf(const QString& name) const
{
    QWidget* parent = out_.byName.value(name, nullptr);
    Q_ASSERT_X(parent, "BuildWindowLayout: no parent", qPrintable(name));
    return parent;
}

QLabel* Builder::makeLabel(const AttachedLabel& label, QWidget* parent)
{
    auto* widget = new QLabel(label.text, parent);
    add(widget, label.name);
    widget->setGeometry(label.geometry);
    widget->setAlignment(label.align);
    ApplyFontRole(widget, label.font);
    return widget;
}

QWidget* Builder::makeControl(const ControlRow& row, QWidget* parent)
{
    QWidget* widget = nullptr;
    switch (row.kind) {
    case ControlKind::Frame: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | (row.raised ? QFrame::Raised : QFrame::Sunken));
        frame->setLineWidth(1);
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget = frame;
        break;
    }
    case ControlKind::Line: {
        auto* line = new QFrame(parent);
        line->setFrameStyle(QFrame::VLine | QFrame::Sunken);
        line->setLineWidth(1);
        line->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget = line;
        break;
    }
    case ControlKind::GroupBox:
        widget = new QGroupBox(row.text, parent);
        break;
    case ControlKind::Label:
    case ControlKind::Separator:
    case ControlKind::StaticText: {
        auto* label = new QLabel(row.text, parent);
        label->setAlignment(row.align);
        if (row.kind == ControlKind::Separator)
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (row.kind == ControlKind::StaticText) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
            label->setWordWrap(true);
            label->setMargin(1);
        }
        widget = label;
        break;
    }
    case ControlKind::ValueField: {
        auto* edit = new QLineEdit(row.text, parent);
        // Display only: the text stays black while the field is disabled, and
        // uses the field's full width inside the frame.
        edit->setTextMargins(-1, 0, -1, 0);
        if (!fieldStyle_)
            fieldStyle_ = new ValueFieldStyle(form_);
        edit->setStyle(fieldStyle_);
        widget = edit;
        break;
    }
    case ControlKind::SpinEdit: {
        auto* spin = new TSpinEdit(parent);
        spin->SetMinValue(row.minValue);
        spin->SetMaxValue(row.maxValue);
        spin->SetIncrement(row.increment);
        if (row.maxLength > 0)
            spin->SetMaxLength(row.maxLength);
        spin->SetValue(row.value);
        widget = spin;
        break;
    }
    case ControlKind::ComboBox: {
        auto* combo = new TComboBox(parent);
        combo->setEditable(false);
        combo->setItemDelegate(new FixedRowDelegate(combo));
        combo->addItems(row.items);
        combo->setCurrentIndex(row.value);
        widget = combo;
        break;
    }
    case ControlKind::CheckBox:
        widget = new QCheckBox(row.text, parent);
        break;
    case ControlKind::Button: {
        auto* button = new QPushButton(row.text, parent);
        if (row.name.startsWith(QLatin1String("ButtonM"))) {
            button->setIcon(OkPicture());
            button->setIconSize(QSize(14, 14));
            button->setDefault(true);
        }
        widget = button;
        break;
    }
    case ControlKind::Led: {
        auto* led = new TLedIndicator(parent);
        led->SetCaption(row.text);
        widget = led;
        break;
    }
    case ControlKind::ComLed:
        widget = new TComLed(parent);
        break;
    case ControlKind::DatePicker: {
        auto* date = new QDateEdit(parent);
        date->setCalendarPopup(true);
        date->setDisplayFormat(ShortDateFormat());
        widget = date;
        break;
    }
    case ControlKind::TimePicker: {
        auto* time = new QTimeEdit(parent);
        time->setDisplayFormat(LongTimeFormat());
        widget = time;
        break;
    }
    }

    add(widget, row.name);
    widget->setGeometry(row.geometry);
    ApplyFontRole(widget, row.font);
    if (row.kind == ControlKind::ValueField) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0, 0, 0));
        widget->setPalette(palette);
    }
    widget->setEnabled(row.enabled);
    if (!row.visible)
        widget->hide();
    return widget;
}

void Builder::buildPage(const PageTable& page)
{
    auto* sheet = new QWidget;
    add(sheet, page.sheet);
    out_.PageControl1->AddPage(sheet, page.caption);

    if (!page.outerPanel.isEmpty()) {
        auto* outer = new QFrame(sheet);
        add(outer, page.outerPanel);
        outer->setFrameStyle(QFrame::Panel | QFrame::Raised);
        outer->setLineWidth(1);
        outer->setGeometry(0, 0, kOuterPanelWidth, kOuterPanelHeight);

        auto* content = new QFrame(outer);
        add(content, page.contentPanel);
        content->setFrameStyle(QFrame::Panel | QFrame::Raised);
        content->setLineWidth(1);
        content->setGeometry(1, 1, kContentPanelWidth, kContentPanelHeight);
    }

    std::vector<QWidget*> graphic;
    for (const ControlRow& row : page.rows) {
        QWidget* parent = parentOf(row.parent);
        for (const AttachedLabel* label : {&row.caption, &row.caption2})
            if (label->present())
                graphic.push_back(makeLabel(*label, parent));
        QWidget* widget = makeControl(row, parent);
        if (IsGraphic(row.kind))
            graphic.push_back(widget);
        if (row.unit.present())
            graphic.push_back(makeLabel(row.unit, parent));
    }
    // Lowering in reverse keeps the graphic controls in their own order.
    for (auto it = graphic.rbegin(); it != graphic.rend(); ++it)
        (*it)->lower();
}

void Builder::buildMenu()
{
    out_.PopupMenu = new QMenu(form_);
    add(out_.PopupMenu, QStringLiteral("PopupMenu"));
    for (int i = 0; i < 4; ++i) {
        auto* action = new QAction(QStringLiteral("СОМ %1").arg(i + 1), out_.PopupMenu);
        action->setObjectName(QStringLiteral("N%1").arg(i + 1));
        action->setCheckable(true);
        out_.PopupMenu->addAction(action);
        out_.N[i] = action;
    }
    // Each item tells the device it would open. The rules look at the
    // environment and at which devices exist, so the tips are taken anew
    // each time the menu is about to show.
    out_.PopupMenu->setToolTipsVisible(true);
    const std::array<QAction*, 4> items{out_.N[0], out_.N[1], out_.N[2], out_.N[3]};
    const auto showDevices = [items] {
        for (int i = 0; i < int(items.size()); ++i)
            items[i]->setToolTip(TComPort::DevicePathFor(QStringLiteral("COM%1").arg(i + 1)));
    };
    showDevices();
    QObject::connect(out_.PopupMenu, &QMenu::aboutToShow, out_.PopupMenu, showDevices);

    if (auto* num = out_.Get<QLabel>(QStringLiteral("LabelNum"))) {
        num->setCursor(Qt::PointingHandCursor);
        num->setToolTip(QStringLiteral("Выбор номера СОМ-порта (правая кнопка мыши)"));
    }
}

void Builder::Run()
{
    out_ = WindowControls();

    form_->setFont(RoleFont(FontRole::Window));
    form_->setWindowTitle(WindowCaption());
    form_->setFixedSize(kClientWidth, kClientHeight);

    out_.PageControl1 = new TPageControl(form_);
    add(out_.PageControl1, QStringLiteral("PageControl1"));
    out_.PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight);

    for (const PageTable& page : LayoutTables())
        buildPage(page);
    buildMenu();

    out_.PageControl1->SelectFromCode(2);
}

}  // namespace

void BuildWindowLayout(QWidget* form, WindowControls& out)
{
    Builder(form, out).Run();
}

QString WindowCaption()
{
    return QStringLiteral("Защита электродвигателя на 0,4кВ");
}
