#include "ui/users/userinfoform.h"

#include "app/eventtoolbar.h"
#include "model/data.h"
#include "model/helpers.h"
#include "model/log.h"
#include "peer/peermessenger.h"

#include "ui_userinfoform.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QImageReader>
#include <QShowEvent>
#include <QTextCursor>
#include <QUrl>

namespace {

const int kMaxShownWidth = 800;
const int kMaxShownHeight = 400;
// Larger pictures would cost hundreds of megabytes to decode before they could be scaled down.
const qint64 kMaxPicturePixels = 64LL * 1024 * 1024;

const char* const kImageName = "UserImage";

}  // namespace

UserInfoForm::UserInfoForm(QWidget* parent)
    : QWidget(parent)
    , m_ui(new Ui_UserInfoForm)
{
    m_ui->setupUi(this);
    // The description comes from another user: its links are opened by this page alone, and only
    // web links, in the desktop's browser.
    connect(m_ui->userInfoText, &QTextBrowser::anchorClicked, this, &UserInfoForm::OnLinkClicked);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this, &UserInfoForm::OnUserInfoReceived,
                Qt::DirectConnection);
}

UserInfoForm::~UserInfoForm()
{
    // The user's record of its page must not outlive the page.
    if (d.HasType("user_info_form"))
        if (ItemPtr page = d.GetType("user_info_form")->HasItem(Value(this)))
            page.Remove();
    delete m_ui;
}

void UserInfoForm::Init(QString user)
{
    m_user = user;
    if (peerMessenger)
        peerMessenger->GetUserInfo(user);
    m_requesting = true;
    m_ui->userInfoText->setHtml("Requesting...");
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &UserInfoForm::OnConnectionToUserFailed,
                Qt::UniqueConnection);
}

QImage UserInfoForm::DecodePicture(const char* ip_bytes, int i_length)
{
    if (!ip_bytes || i_length <= 0)
        return QImage();
    // Read in place: the bytes belong to the messenger and are gone once this call returns, and
    // nothing here keeps them.
    QByteArray bytes = QByteArray::fromRawData(ip_bytes, i_length);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // A format that cannot tell its size before decoding is not decoded blind.
    if (!size.isValid() || size.isEmpty() ||
        qint64(size.width()) * qint64(size.height()) > kMaxPicturePixels)
        return QImage();
    if (size.width() > kMaxShownWidth || size.height() > kMaxShownHeight)
        reader.setScaledSize(size.scaled(kMaxShownWidth, kMaxShownHeight, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return QImage();
    // A reader that cannot scale while decoding leaves it to be done here.
    if (image.width() > kMaxShownWidth || image.height() > kMaxShownHeight)
        image = image.scaled(kMaxShownWidth, kMaxShownHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void UserInfoForm::OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture,
                                      char* ip_pictureBuffer, int i_pictureBufferLength, int i_uploadSlots,
                                      int i_queuedUPloads, bool i_freeUploadSlots)
{
    if (i_user != m_user)
        return;
    m_requesting = false;
    m_ui->uploadSlotsEdit->setText(QString::number(i_uploadSlots));
    m_ui->queuedUploadsEdit->setText(QString::number(i_queuedUPloads));
    m_ui->freeToUploadEdit->setText(i_freeUploadSlots ? "Yes" : "No");

    // A picture that does not decode (or is refused) leaves the rest of the reply to be shown.
    QString html;
    bool hasPicture = false;
    if (i_hasPicture) {
        const QImage image = DecodePicture(ip_pictureBuffer, i_pictureBufferLength);
        if (image.isNull())
            Log("Peer Messenger", 1,
                QString("Picture of %1 bytes in the user info of %2 not shown: it does not decode, or it is larger "
                        "than 64 megapixels")
                    .arg(i_pictureBufferLength)
                    .arg(m_user));
        else {
            m_ui->userInfoText->document()->addResource(QTextDocument::ImageResource, QUrl(kImageName), image);
            html = QString("<img source=\"%1\" /><p>").arg(kImageName);
            hasPicture = true;
        }
    }
    // The description is the other user's text, never markup: escaped, with its web addresses
    // made links and its line breaks kept.
    if (!i_description.isEmpty() || hasPicture)
        html += ConvertLinks(i_description).replace("\n", "<br>");
    else
        html += "No user info.";
    m_ui->userInfoText->setHtml(html);
    m_ui->userInfoText->moveCursor(QTextCursor::Start);

    if (eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/info_icon", this, "");
}

void UserInfoForm::OnConnectionToUserFailed(QString i_user, QString i_connectionType)
{
    if (!m_requesting || i_user != m_user || i_connectionType != "P")
        return;
    m_requesting = false;
    m_ui->userInfoText->setPlainText("A connection could not be successfully formed to the user.");
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/info_icon", this, "");
}

void UserInfoForm::OnLinkClicked(const QUrl& i_url)
{
    const QString scheme = i_url.scheme().toLower();
    if (scheme == "http" || scheme == "https")
        QDesktopServices::openUrl(i_url);
}

void UserInfoForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(this);
}
