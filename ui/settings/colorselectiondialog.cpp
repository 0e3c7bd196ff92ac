#include "ui/settings/colorselectiondialog.h"

#include "app/mainwindow.h"
#include "model/settings.h"
#include "ui/transfers/transfersform.h"

#include "ui_colorselectiondialog.h"

#include <QApplication>
#include <QColorDialog>
#include <QPalette>

namespace {

// A preview's colour is its field's background in every colour group; nothing else holds it.
QColor PreviewColor(const QLineEdit* preview)
{
    return preview->palette().color(QPalette::Base);
}

void SetPreviewColor(QLineEdit* preview, const QColor& color)
{
    QPalette palette = preview->palette();
    palette.setColor(QPalette::Base, color);
    preview->setPalette(palette);
}

// The palette previews and the application palette roles they stand for.
struct PaletteRow
{
    QLineEdit* Ui_ColorSelectionDialog::*preview;
    QPalette::ColorRole role;
    const char* key;
};

const PaletteRow kPaletteRows[] = {
    {&Ui_ColorSelectionDialog::windowBackgroundColor, QPalette::Window, "color_window_background"},
    {&Ui_ColorSelectionDialog::windowTextColor, QPalette::WindowText, "color_window_text"},
    {&Ui_ColorSelectionDialog::inputBackgroundColor, QPalette::Base, "color_input_background"},
    {&Ui_ColorSelectionDialog::inputTextColor, QPalette::Text, "color_input_text"},
    {&Ui_ColorSelectionDialog::buttonBackgroundColor, QPalette::Button, "color_button_background"},
    {&Ui_ColorSelectionDialog::buttonTextColor, QPalette::ButtonText, "color_button_text"},
};

// The colours read where they are used, in the order they are filled, reset and stored.
struct SettingRow
{
    QLineEdit* Ui_ColorSelectionDialog::*preview;
    const char* key;
    QRgb defaultColor;
};

const SettingRow kSettingRows[] = {
    {&Ui_ColorSelectionDialog::transferQueuedColor, "color_transfer_queued", qRgb(51, 102, 255)},
    {&Ui_ColorSelectionDialog::transferCompleteColor, "color_transfer_complete", qRgb(0, 100, 0)},
    {&Ui_ColorSelectionDialog::transferInProgressColor, "color_transfer_in_progress", qRgb(0, 0, 255)},
    {&Ui_ColorSelectionDialog::transferFailedColor, "color_transfer_failed", qRgb(255, 10, 71)},
    {&Ui_ColorSelectionDialog::transferOtherColor, "color_transfer_other", qRgb(0, 0, 0)},
    {&Ui_ColorSelectionDialog::chatUsernameColor, "color_chat_username", qRgb(0, 51, 255)},
    {&Ui_ColorSelectionDialog::chatTimestampColor, "color_chat_timestamp", qRgb(0, 102, 255)},
    {&Ui_ColorSelectionDialog::chatStatusColor, "color_chat_status", qRgb(51, 153, 51)},
};

}  // namespace

ColorSelectionDialog::ColorSelectionDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_ColorSelectionDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    const std::pair<QPushButton*, void (ColorSelectionDialog::*)()> buttons[] = {
        {ui->windowBackgroundButton, &ColorSelectionDialog::OnChangeWindowBackground},
        {ui->windowTextButton, &ColorSelectionDialog::OnChangeWindowText},
        {ui->inputBackgroundButton, &ColorSelectionDialog::OnChangeInputBackground},
        {ui->inputTextButton, &ColorSelectionDialog::OnChangeInputText},
        {ui->buttonBackgroundButton, &ColorSelectionDialog::OnChangeButtonBackground},
        {ui->buttonTextButton, &ColorSelectionDialog::OnChangeButtonText},
        {ui->transferQueuedButton, &ColorSelectionDialog::OnChangeTransferQueued},
        {ui->transferInProgressButton, &ColorSelectionDialog::OnChangeTransferInProgress},
        {ui->transferCompleteButton, &ColorSelectionDialog::OnChangeTransferComplete},
        {ui->transferFailedButton, &ColorSelectionDialog::OnChangeTransferFailed},
        {ui->transferOtherButton, &ColorSelectionDialog::OnChangeTransferOther},
        {ui->chatUsernameButton, &ColorSelectionDialog::OnChangeChatUsername},
        {ui->chatTimestampButton, &ColorSelectionDialog::OnChangeChatTimestamp},
        {ui->chatStatusButton, &ColorSelectionDialog::OnChangeChatStatus},
        {ui->saveColorsButton, &ColorSelectionDialog::OnSaveColors},
        {ui->resetToDefaultsButton, &ColorSelectionDialog::OnResetToDefaults},
    };
    for (const auto& b : buttons)
        connect(b.first, &QPushButton::clicked, this, b.second);

    // The palette colours come from the live palette, so a save in another dialog shows here.
    const QPalette application = QApplication::palette();
    for (const PaletteRow& row : kPaletteRows)
        SetPreviewColor(ui->*row.preview, application.color(row.role));
    // A stored text the parser refuses shows as the invalid colour, without a word.
    for (const SettingRow& row : kSettingRows) {
        QColor color;
        color.setNamedColor(GetSetting(row.key));
        SetPreviewColor(ui->*row.preview, color);
    }
}

ColorSelectionDialog::~ColorSelectionDialog()
{
    delete ui;
}

void ColorSelectionDialog::ChangeColor(QLineEdit* preview)
{
    const QColor chosen = QColorDialog::getColor(PreviewColor(preview), this);
    if (chosen.isValid())
        SetPreviewColor(preview, chosen);
}

void ColorSelectionDialog::OnChangeWindowBackground() { ChangeColor(ui->windowBackgroundColor); }
void ColorSelectionDialog::OnChangeWindowText() { ChangeColor(ui->windowTextColor); }
void ColorSelectionDialog::OnChangeInputBackground() { ChangeColor(ui->inputBackgroundColor); }
void ColorSelectionDialog::OnChangeInputText() { ChangeColor(ui->inputTextColor); }
void ColorSelectionDialog::OnChangeButtonBackground() { ChangeColor(ui->buttonBackgroundColor); }
void ColorSelectionDialog::OnChangeButtonText() { ChangeColor(ui->buttonTextColor); }
void ColorSelectionDialog::OnChangeTransferQueued() { ChangeColor(ui->transferQueuedColor); }
void ColorSelectionDialog::OnChangeTransferInProgress() { ChangeColor(ui->transferInProgressColor); }
void ColorSelectionDialog::OnChangeTransferComplete() { ChangeColor(ui->transferCompleteColor); }
void ColorSelectionDialog::OnChangeTransferFailed() { ChangeColor(ui->transferFailedColor); }
void ColorSelectionDialog::OnChangeTransferOther() { ChangeColor(ui->transferOtherColor); }
void ColorSelectionDialog::OnChangeChatUsername() { ChangeColor(ui->chatUsernameColor); }
void ColorSelectionDialog::OnChangeChatTimestamp() { ChangeColor(ui->chatTimestampColor); }
void ColorSelectionDialog::OnChangeChatStatus() { ChangeColor(ui->chatStatusColor); }

void ColorSelectionDialog::OnResetToDefaults()
{
    // The palette the desktop gave this run, not fixed colours; Save is still needed.
    for (const PaletteRow& row : kPaletteRows)
        SetPreviewColor(ui->*row.preview, defaultPalette.color(row.role));
    for (const SettingRow& row : kSettingRows)
        SetPreviewColor(ui->*row.preview, QColor(row.defaultColor));
}

void ColorSelectionDialog::OnSaveColors()
{
    QPalette palette = QApplication::palette();
    for (const PaletteRow& row : kPaletteRows)
        palette.setColor(row.role, PreviewColor(ui->*row.preview));
    QApplication::setPalette(palette);

    // What is stored is what the application took, so the next start applies the same.
    const QPalette applied = QApplication::palette();
    for (const PaletteRow& row : kPaletteRows)
        SetSetting(row.key, applied.color(row.role).name());
    for (const SettingRow& row : kSettingRows)
        SetSetting(row.key, PreviewColor(ui->*row.preview).name());

    if (transfersForm)
        transfersForm->RecolorEntries();
    accept();
}
