// The user-info page of one other user: the description and picture the user tells about
// itself and its three upload figures, asked for once and shown as a tab of the user list.
#pragma once

#include "ui/users/picturedecoder.h"

#include <QImage>
#include <QString>
#include <QWidget>

class QShowEvent;
class QUrl;
class Ui_UserInfoForm;

class UserInfoForm : public QWidget
{
    Q_OBJECT

public:
    explicit UserInfoForm(QWidget* parent = nullptr);
    ~UserInfoForm() override;

    // Asks the user for its info and shows that the answer is awaited.
    void Init(QString user);

    QString User() const { return m_user; }

    // The box a reply's picture is fitted into.
    static constexpr int kMaxShownWidth = 800;
    static constexpr int kMaxShownHeight = 400;

    // The picture of a reply as the page shows it: fitted into 800 by 400, smoothly scaled.
    // Null for bytes that do not decode, and for a picture whose decoding would take more than
    // a few tens of MiB by what its headers tell, which is refused before anything of that size
    // is allocated; o_refusal, when given, then says why. What the headers do not tell is held
    // by the limits of the process that runs this: the page's decoding child, never the page.
    static QImage DecodePicture(const char* ip_bytes, int i_length, QString* o_refusal = nullptr);

public slots:
    void OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture, char* ip_pictureBuffer,
                            int i_pictureBufferLength, int i_uploadSlots, int i_queuedUPloads,
                            bool i_freeUploadSlots);
    void OnConnectionToUserFailed(QString i_user, QString i_connectionType);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void OnLinkClicked(const QUrl& i_url);
    void OnPictureDecoded(const QImage& i_image, const QString& i_refusal);
    void ShowReply(const QImage& i_picture);

    Ui_UserInfoForm* m_ui;
    QString m_user;
    bool m_requesting = false;
    // The reply whose description shows once its picture is decoded.
    struct Reply
    {
        QString description;
        int pictureLength = 0;
    } m_reply;
    PictureDecoder m_decoder;
};
