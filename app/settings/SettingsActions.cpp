#include "app/settings/SettingsActions.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QMenu>

#include "ZashchitaVersion.h"
#include "app/MessageBoxes.h"
#include "app/PageControl.h"
#include "app/UnitMain.h"
#include "app/settings/JournalDialog.h"
#include "app/settings/Prompts.h"
#include "app/settings/RelayQuestions.h"
#include "app/settings/SettingsDialog.h"
#include "app/settings/SheetDialog.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/LocaleFormats.h"
#include "exchanges/Masks.h"
#include "exchanges/RelayClock.h"
#include "exchanges/SetpointsConfig.h"
#include "exchanges/BitText.h"
#include "exchanges/CountWords.h"
#include "settings/AtomicFile.h"
#include "settings/IsoTime.h"
#include "settings/JournalRecorder.h"
#include "settings/SettingsFile.h"

namespace {

// The relay's password, which the sheet prints masked unless asked.
constexpr const char* kSystemPasswordSetting = "NSE4";

const QString kCaption = QStringLiteral("Защита");
const char* const kJournalProgram = "zashchita";
// As many faults of a refused file as the companion lists.
constexpr int kMaxListedErrors = 20;
constexpr int kMaskBoxes = 15;
constexpr int kWordBits = 16;

bool IsInside(const QWidget* widget, const QWidget* container)
{
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (w == container)
            return true;
    return false;
}

}  // namespace

SettingsActions::SettingsActions(TForm1* form) : QObject(form), form_(form)
{
    setObjectName(QStringLiteral("SettingsActions"));
    questions_ = new RelayQuestions(form->Session(), this);
    recorder_ = new JournalRecorder(form->Session(), QLatin1String(kJournalProgram), JournalPath(), this);
    connect(recorder_, &JournalRecorder::journalFailed, this, &SettingsActions::journalFailed);

    menu_ = new QMenu(form);
    menu_->setObjectName(QStringLiteral("SettingsMenu"));
    save_ = makeAction(QStringLiteral("Сохранить уставки в файл…"), QKeySequence(Qt::CTRL | Qt::Key_S),
                       &SettingsActions::Save);
    compare_ = makeAction(QStringLiteral("Сравнить с файлом…"), QKeySequence(Qt::CTRL | Qt::Key_D),
                          &SettingsActions::Compare);
    load_ = makeAction(QStringLiteral("Загрузить из файла…"), QKeySequence(Qt::CTRL | Qt::Key_O),
                       &SettingsActions::Load);
    menu_->addSeparator();
    sheet_ = makeAction(QStringLiteral("Лист уставок (PDF)…"), QKeySequence(), &SettingsActions::Sheet);
    menu_->addSeparator();
    journal_ = makeAction(QStringLiteral("Журнал изменений…"), QKeySequence(), &SettingsActions::ShowJournal);

    // A right click on the page itself; the spin edits and boxes keep their own menus.
    for (int page : {kSetpointsPage, kConfigurationPage}) {
        QWidget* panel = form->Control(QStringLiteral("Panel%1").arg(page + 1));
        panel->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(panel, &QWidget::customContextMenuRequested, this,
                [this, panel](const QPoint& at) { menu_->popup(panel->mapToGlobal(at)); });
    }
    connect(form->PageControl1(), &QTabWidget::currentChanged, this, &SettingsActions::pageShown);
    pageShown(form->PageControl1()->currentIndex());
}

SettingsActions::~SettingsActions() = default;

SettingsDialog* SettingsActions::OpenSettingsDialog() const { return settingsDialog_; }
SheetDialog* SettingsActions::OpenSheetDialog() const { return sheetDialog_; }
JournalDialog* SettingsActions::OpenJournalDialog() const { return journalDialog_; }

QAction* SettingsActions::makeAction(const QString& text, const QKeySequence& keys, void (SettingsActions::*run)())
{
    auto* action = new QAction(text, form_);
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        form_->addAction(action);
    }
    connect(action, &QAction::triggered, this, run);
    menu_->addAction(action);
    return action;
}

// The shortcuts work while one of the two pages is shown.
void SettingsActions::pageShown(int index)
{
    const bool settingsPage = index == kSetpointsPage || index == kConfigurationPage;
    for (QAction* action : {save_, compare_})
        action->setEnabled(settingsPage);
    // A watching station is not offered the load at all.
    const WriteLook load = WriteLookOf(WriteControl::LoadFromFile, form_->WritingConditions());
    load_->setVisible(load.shown);
    load_->setEnabled(settingsPage && load.enabled);
}

void SettingsActions::WritesChanged()
{
    pageShown(form_->PageControl1()->currentIndex());
}

bool SettingsActions::relayReady()
{
    QString why;
    if (questions_->Ready(why))
        return true;
    ShowErrorMessage(form_, {kCaption, QStringLiteral("Нет связи с защитой"), why});
    return false;
}

QString SettingsActions::PortText() const
{
    const QString path = form_->Session().DevicePath();
    const QString com = QStringLiteral("COM%1").arg(form_->ComNumber());
    return path.isEmpty() ? com : QStringLiteral("%1 (%2)").arg(com, path);
}

QString SettingsActions::ProgramText() const
{
    return QStringLiteral("%1 %2").arg(kCaption, QLatin1String(ZASHCHITA_VERSION));
}

// ---- save --------------------------------------------------------------------

void SettingsActions::Save()
{
    if (!relayReady())
        return;
    const QString path = ChooseFile(form_, FileChoice::Save, QStringLiteral("Сохранить уставки в файл"));
    if (path.isEmpty())
        return;
    QString reason;
    if (!CheckWritable(path, reason)) {
        ShowErrorMessage(form_, {kCaption, QStringLiteral("Не могу записать файл уставок"),
                                 QStringLiteral("%1: %2; из защиты ничего не прочитано").arg(path, reason)});
        return;
    }
    // Read afresh: a control may hold an edit not yet confirmed.
    questions_->Read(kSettingsBlock, 0, [this, path](const RegisterValues* values, const QString& failure) {
        settingsSaved(path, values, failure);
    });
}

void SettingsActions::settingsSaved(const QString& path, const RegisterValues* values, const QString& failure)
{
    if (!values) {
        ShowErrorMessage(form_, {kCaption, QStringLiteral("Уставки не прочитаны"), failure});
        return;
    }
    SettingsFile file;
    file.saved = IsoTimeText(form_->Now(), IsoPrecision::Seconds);
    file.address = form_->Session().SlaveAddress();
    file.port = PortText();
    file.program = ProgramText();
    for (const SettingSpec& definition : SettingSpecs())
        file.settings.push_back({&definition, values->At(definition.reg)});
    const bool existed = QFileInfo::exists(path);
    QString reason;
    if (!WriteFileAtomically(path, SettingsText(file, FormatForPath(path)), reason)) {
        ShowErrorMessage(form_, {kCaption, QStringLiteral("Файл уставок не записан"),
                                 QStringLiteral("%1: %2; %3").arg(path, reason,
                                                                  existed ? QStringLiteral("прежний файл остался как был")
                                                                          : QStringLiteral("ничего не сохранено"))});
        return;
    }
    ShowNotice(form_, {kCaption, QStringLiteral("Уставки сохранены"),
                       QStringLiteral("%1 защиты с адресом %2 %3 в %4")
                           .arg(RussianCountText(qint64(file.settings.size()), QStringLiteral("уставка"),
                                                 QStringLiteral("уставки"), QStringLiteral("уставок")))
                           .arg(file.address)
                           .arg(RussianNoun(qint64(file.settings.size()), QStringLiteral("сохранена"),
                                            QStringLiteral("сохранены"), QStringLiteral("сохранены")))
                           .arg(path)});
}

// ---- compare and load -----------------------------------------------------

void SettingsActions::Compare()
{
    openSettingsDialog(false);
}

void SettingsActions::Load()
{
    openSettingsDialog(true);
}

void SettingsActions::openSettingsDialog(bool load)
{
    if (settingsDialog_ || (load && form_->ReadOnly()) || !relayReady())
        return;
    const QString path = ChooseFile(form_, FileChoice::Open,
                                    load ? QStringLiteral("Загрузить уставки из файла")
                                         : QStringLiteral("Сравнить уставки с файлом"));
    if (path.isEmpty())
        return;
    // Checked whole before anything is sent, with the companion's words.
    const SettingsFileRead read = ReadSettingsFile(path);
    if (!read.ok) {
        QStringList lines;
        for (const QString& error : read.errors.mid(0, kMaxListedErrors))
            lines << QStringLiteral("%1: %2").arg(path, error);
        if (read.errors.size() > kMaxListedErrors)
            lines << QStringLiteral("%1: and %2 more faults").arg(path).arg(read.errors.size() - kMaxListedErrors);
        lines << QStringLiteral("%1: refused; nothing was sent to the relay").arg(path);
        ShowErrorMessage(form_, {kCaption, QStringLiteral("Файл уставок отклонён"), lines.join(QLatin1Char('\n'))});
        return;
    }
    settingsDialog_ = new SettingsDialog(load ? SettingsDialog::Mode::Load : SettingsDialog::Mode::Compare, path,
                                         read.file, *questions_, form_->Session(), form_);
    settingsDialog_->setAttribute(Qt::WA_DeleteOnClose);
    // After a load the settings pages show what the relay holds: read again
    // at once, or, without a read-back, shown as unknown until the link returns.
    connect(settingsDialog_, &SettingsDialog::writesEnded, this, [this] {
        if (settingsDialog_)
            form_->SettingsWritten(settingsDialog_->LoadReadBack());
    });
    settingsDialog_->open();
    settingsDialog_->Start();
}

// ---- the settings sheet -----------------------------------------------------

void SettingsActions::Sheet()
{
    if (sheetDialog_ || !relayReady())
        return;
    sheetDialog_ = new SheetDialog(
        *questions_,
        [this](const RegisterValues& settings, const RegisterValues& current, const QString& objectName) {
            return MakeSheet(settings, current, objectName);
        },
        form_);
    sheetDialog_->setAttribute(Qt::WA_DeleteOnClose);
    sheetDialog_->open();
}

SheetContent SettingsActions::MakeSheet(const RegisterValues& settings, const RegisterValues& current,
                                        const QString& objectName) const
{
    SheetContent sheet;
    sheet.program = ProgramText();
    sheet.address = QString::number(form_->Session().SlaveAddress());
    sheet.port = PortText();
    sheet.moment = LocalDateTimeText(form_->Now());
    sheet.objectName = objectName;

    const QWidget* setpoints = form_->Control(QStringLiteral("Panel%1").arg(kSetpointsPage + 1));
    for (const SettingSpec& d : SettingSpecs()) {
        if (d.kind == SettingKind::Mask || !settings.Carries(d.reg))
            continue;
        const SheetLine line{d.caption, SettingValueText(d, settings.At(d.reg)), d.unit,
                             d.name == QLatin1String(kSystemPasswordSetting)};
        (IsInside(form_->Control(d.name), setpoints) ? sheet.setpoints : sheet.configuration).push_back(line);
    }
    // The masks in the order of their columns, each bit with its box's caption.
    for (int column = 0; column < int(std::size(kMaskRegisters)); ++column) {
        const int reg = kMaskRegisters[column];
        if (!settings.Carries(reg))
            continue;
        SheetMask mask;
        mask.reg = reg;
        for (const SettingSpec& d : SettingSpecs())
            if (d.reg == reg)
                mask.caption = d.caption;
        const uint16_t word = settings.At(reg);
        mask.bitText = WordToBitText(word);
        for (int bit = 0; bit < kWordBits; ++bit) {
            QString caption;
            if (bit < kMaskBoxes)
                if (auto* box = form_->ControlAs<QCheckBox>(QStringLiteral("M%1CB%2").arg(column + 1).arg(bit + 1)))
                    caption = box->text();
            mask.bits.push_back({bit, caption, bool(word >> bit & 1u)});
        }
        sheet.masks.push_back(mask);
    }

    const bool haveClock = current.Carries(kClockFirstRegister) && current.Carries(kClockFirstRegister + 4);
    if (haveClock) {
        const RelayClockFields f = ClockFieldsAt(kClockFirstRegister, [&](int reg) { return current.At(reg); });
        if (InRange(f)) {
            const QDateTime moment = RelayClockMoment(form_->Now().date(), f);
            sheet.relayClock = ShortDateText(moment.date()) + QLatin1Char(' ') + LongTimeText(moment.time());
        } else {
            sheet.relayClock = QStringLiteral("не дата: месяц %1, день %2, %3:%4:%5")
                                   .arg(f.month).arg(f.day).arg(f.hour).arg(f.minute).arg(f.second);
        }
    }
    return sheet;
}

// ---- the journal ---------------------------------------------------------------

void SettingsActions::ShowJournal()
{
    if (journalDialog_) {
        journalDialog_->Reload();
        return;
    }
    journalDialog_ = new JournalDialog(recorder_->Path(), form_);
    journalDialog_->setAttribute(Qt::WA_DeleteOnClose);
    journalDialog_->open();
}

// Told from the event loop: a write under way goes on meanwhile.
void SettingsActions::journalFailed(const QString& path, const QString& reason)
{
    QMetaObject::invokeMethod(
        this,
        [this, path, reason] {
            ShowErrorMessage(form_, {kCaption, QStringLiteral("Журнал изменений не записан"),
                                     QStringLiteral("%1: %2. Запись в защиту продолжается без журнала; об этом "
                                                    "сообщается один раз.")
                                         .arg(path, reason)});
        },
        Qt::QueuedConnection);
}
