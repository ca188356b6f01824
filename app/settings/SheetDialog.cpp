#include "app/settings/SheetDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/Prompts.h"
#include "app/settings/RelayQuestions.h"
#include "exchanges/ExchangeTable.h"
#include "settings/AtomicFile.h"

namespace {
constexpr int kDialogWidth = 520;
constexpr int kLongestObjectName = 120;
}  // namespace

SheetDialog::SheetDialog(RelayQuestions& questions, MakeContent make, QWidget* parent)
    : QDialog(parent), questions_(&questions), make_(std::move(make))
{
    setObjectName(QStringLiteral("SheetDialog"));
    setWindowTitle(QStringLiteral("Лист уставок (PDF)"));
    setWindowModality(Qt::WindowModal);
    resize(kDialogWidth, sizeHint().height());

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    objectName_ = new QLineEdit(this);
    objectName_->setObjectName(QStringLiteral("ObjectName"));
    objectName_->setMaxLength(kLongestObjectName);
    objectName_->setPlaceholderText(QStringLiteral("например: насосная №2, двигатель Н-3"));
    form->addRow(QStringLiteral("Объект:"), objectName_);
    auto* fileRow = new QHBoxLayout;
    path_ = new QLineEdit(this);
    path_->setObjectName(QStringLiteral("SheetPath"));
    auto* browse = new QPushButton(QStringLiteral("Обзор…"), this);
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &SheetDialog::browse);
    fileRow->addWidget(path_, 1);
    fileRow->addWidget(browse);
    form->addRow(QStringLiteral("Файл:"), fileRow);
    layout->addLayout(form);
    printPassword_ = new QCheckBox(QStringLiteral("Печатать пароль системы открыто"), this);
    printPassword_->setObjectName(QStringLiteral("PrintPassword"));
    printPassword_->setToolTip(QStringLiteral("Без отметки пароль напечатан звёздочками"));
    layout->addWidget(printPassword_);

    status_ = new QLabel(QStringLiteral("Уставки, маски и часы будут прочитаны из защиты заново."), this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);

    auto* buttons = new QDialogButtonBox(this);
    save_ = buttons->addButton(QStringLiteral("Сохранить PDF"), QDialogButtonBox::AcceptRole);
    save_->setObjectName(QStringLiteral("SaveSheet"));
    buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(save_, &QPushButton::clicked, this, &SheetDialog::saveSheet);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

SheetDialog::~SheetDialog()
{
    if (questions_)
        questions_->Forget();
}

void SheetDialog::browse()
{
    const QString chosen = ChooseFile(this, FileChoice::Sheet, QStringLiteral("Лист уставок в файл"));
    if (!chosen.isEmpty())
        path_->setText(chosen);
}

void SheetDialog::saveSheet()
{
    if (busy_)
        return;
    target_ = path_->text().trimmed();
    if (target_.isEmpty()) {
        finish(false, QStringLiteral("Укажите файл листа уставок."));
        return;
    }
    if (QFileInfo(target_).suffix().isEmpty())
        target_ += QStringLiteral(".pdf");
    QString reason;
    if (!CheckWritable(target_, reason)) {
        finish(false, QStringLiteral("Не могу записать %1: %2. Из защиты ничего не прочитано.").arg(target_, reason));
        return;
    }
    busy_ = true;
    save_->setEnabled(false);
    status_->setStyleSheet(QString());
    status_->setText(QStringLiteral("Чтение уставок из защиты…"));
    questions_->Read(kSettingsBlock, 0,
                    [this](const RegisterValues* values, const QString& failure) { settingsRead(values, failure); });
}

void SheetDialog::settingsRead(const RegisterValues* values, const QString& failure)
{
    if (!values) {
        finish(false, failure);
        return;
    }
    settings_ = *values;
    status_->setText(QStringLiteral("Чтение часов защиты…"));
    questions_->Read(kCurrentParamsBlock, 0,
                    [this](const RegisterValues* current, const QString& why) { currentRead(current, why); });
}

void SheetDialog::currentRead(const RegisterValues* values, const QString& failure)
{
    if (!values) {
        finish(false, failure);
        return;
    }
    SheetContent content = make_(settings_, *values, objectName_->text().trimmed());
    if (!printPassword_->isChecked())
        for (std::vector<SheetLine>* lines : {&content.setpoints, &content.configuration})
            for (SheetLine& line : *lines)
                if (line.secret)
                    line.value = kMaskedValue;
    const QByteArray pdf = SettingsSheetPdf(content);
    const bool existed = QFileInfo::exists(target_);
    QString reason;
    if (pdf.isEmpty() || !WriteFileAtomically(target_, pdf, reason)) {
        finish(false, QStringLiteral("Не могу записать %1: %2; %3")
                          .arg(target_, pdf.isEmpty() ? QStringLiteral("PDF не создан") : reason,
                               existed ? QStringLiteral("прежний файл остался как был")
                                       : QStringLiteral("ничего не сохранено")));
        return;
    }
    finish(true, QStringLiteral("Лист уставок сохранён в %1").arg(target_));
}

void SheetDialog::finish(bool ok, const QString& text)
{
    busy_ = false;
    save_->setEnabled(true);
    status_->setText(text);
    status_->setStyleSheet(ok ? QString() : QStringLiteral("color: #8b0000;"));
    emit done(ok);
}
