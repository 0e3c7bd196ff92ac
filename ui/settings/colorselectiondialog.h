// The colour scheme of the client: the application palette, transfer rows and chat lines.
#pragma once

#include <QDialog>

class QColor;
class QLineEdit;
class Ui_ColorSelectionDialog;

class ColorSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    // Shown non-modally by the caller; deletes itself once closed.
    explicit ColorSelectionDialog(QWidget* parent = nullptr);
    ~ColorSelectionDialog() override;

public slots:
    void OnChangeWindowBackground();
    void OnChangeWindowText();
    void OnChangeInputBackground();
    void OnChangeInputText();
    void OnChangeButtonBackground();
    void OnChangeButtonText();
    void OnChangeTransferQueued();
    void OnChangeTransferInProgress();
    void OnChangeTransferComplete();
    void OnChangeTransferFailed();
    void OnChangeTransferOther();
    void OnChangeChatUsername();
    void OnChangeChatTimestamp();
    void OnChangeChatStatus();
    void OnSaveColors();
    void OnResetToDefaults();

private:
    // Lets the user pick the preview's colour; a cancelled chooser changes nothing.
    void ChangeColor(QLineEdit* preview);

    Ui_ColorSelectionDialog* ui;
};
