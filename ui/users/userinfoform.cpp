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
#include <QLineEdit>
#include <QShowEvent>
#include <QTextCursor>
#include <QUrl>

#include <limits>

namespace {

// What decoding one picture of another user may take: the pixels its decoder really allocates,
// in the deepest format it may produce them in. A picture's header cannot be taken at its word
// (a GIF is drawn onto its whole logical screen, an icon decodes the PNG it holds at the PNG's
// own size), so the cost is worked out from the headers the decoder itself follows.
const qint64 kMaxDecodeBytes = 48LL * 1024 * 1024;

const char* const kImageName = "UserImage";

quint32 Byte(const QByteArray& b, qint64 at) { return quint8(b[int(at)]); }
quint32 Le16(const QByteArray& b, qint64 at) { return Byte(b, at) | Byte(b, at + 1) << 8; }
quint32 Le32(const QByteArray& b, qint64 at) { return Le16(b, at) | Le16(b, at + 2) << 16; }
quint32 Be16(const QByteArray& b, qint64 at) { return Byte(b, at) << 8 | Byte(b, at + 1); }
quint32 Be32(const QByteArray& b, qint64 at) { return Be16(b, at) << 16 | Be16(b, at + 2); }

// Sizes taken from a peer's bytes multiply past any bound: their products and sums stop at the
// largest value instead.
qint64 Times(qint64 a, qint64 b)
{
    qint64 product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<qint64>::max() : product;
}

qint64 Plus(qint64 a, qint64 b)
{
    qint64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<qint64>::max() : sum;
}

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// A PNG starting at `at`: its full size, 8 bytes a pixel at 16 bits a sample, else 4. -1 when
// no PNG header is there.
qint64 PngCost(const QByteArray& b, qint64 at)
{
    if (at < 0 || at + 25 > b.size() || b.mid(int(at), 8) != QByteArray(kPngSignature, 8) ||
        b.mid(int(at) + 12, 4) != "IHDR")
        return -1;
    return Times(Times(Be32(b, at + 16), Be32(b, at + 20)), Byte(b, at + 24) == 16 ? 8 : 4);
}

// A GIF's frames are drawn onto a canvas of its logical screen, allocated before the first
// frame is read; a frame reaching beyond the screen is counted as widening it, and a frame that
// asks for what it covers to be restored after it keeps a copy of that area besides. Blocks are
// walked as the decoder walks them: a control block, whatever size it gives, is followed by
// sub-blocks up to an empty one.
qint64 GifCost(const QByteArray& b)
{
    if (b.size() < 13)
        return 0;
    quint32 width = Le16(b, 6);
    quint32 height = Le16(b, 8);
    qint64 at = 13;
    if (Byte(b, 10) & 0x80)
        at += 3 << ((Byte(b, 10) & 7) + 1);
    const auto skipBlocks = [&b, &at] {
        while (at < b.size()) {
            const quint32 length = Byte(b, at);
            at += 1 + length;
            if (length == 0)
                break;
        }
    };
    bool restores = false;
    qint64 restored = 0;
    while (at < b.size()) {
        const quint32 kind = Byte(b, at);
        if (kind == 0x2C) {
            if (at + 10 > b.size())
                break;
            width = qMax(width, Le16(b, at + 1) + Le16(b, at + 5));
            height = qMax(height, Le16(b, at + 3) + Le16(b, at + 7));
            if (restores)
                restored = qMax(restored, qint64(Le16(b, at + 5)) * Le16(b, at + 7) * 4);
            const quint32 flags = Byte(b, at + 9);
            at += 10;
            if (flags & 0x80)
                at += 3 << ((flags & 7) + 1);
            at += 1;  // the code size
            skipBlocks();
        } else if (kind == 0x21 && at + 2 < b.size() && Byte(b, at + 1) == 0xF9) {
            const quint32 length = Byte(b, at + 2);
            if (length > 0 && at + 3 < b.size())
                restores = ((Byte(b, at + 3) >> 2) & 7) == 3;
            at += 3 + length;
            skipBlocks();
        } else if (kind == 0x21) {
            at += 2;
            skipBlocks();
        } else {
            break;  // the trailer, or bytes no decoder reads on from
        }
    }
    return qint64(width) * height * 4 + restored;
}

// An icon decodes an embedded PNG at the PNG's own size, after reading it whole into a block of
// the length its entry gives, and a bitmap at the size of its entry or, where the entry says 0,
// of its header. Every entry is counted, whichever is read. -1 for an entry whose bytes are not
// all there: its decoder would read from wherever it happens to be, into a block of the length
// the entry claims.
qint64 IconCost(const QByteArray& b)
{
    if (b.size() < 6)
        return 0;
    qint64 cost = 0;
    const quint32 entries = Le16(b, 4);
    for (quint32 k = 0; k < entries && 6 + 16 * qint64(k + 1) <= b.size(); ++k) {
        const qint64 entry = 6 + 16 * qint64(k);
        const qint64 length = Le32(b, entry + 8);
        const qint64 offset = Le32(b, entry + 12);
        if (offset + length > b.size())
            return -1;
        const qint64 png = PngCost(b, offset);
        if (png >= 0) {
            cost = qMax(cost, Plus(length, png));
        } else if (offset + 12 <= b.size()) {
            const qint64 width = Byte(b, entry) ? Byte(b, entry) : qAbs(qint64(qint32(Le32(b, offset + 4))));
            const qint64 height =
                Byte(b, entry + 1) ? Byte(b, entry + 1) : qAbs(qint64(qint32(Le32(b, offset + 8)))) / 2;
            cost = qMax(cost, Plus(length, Times(Times(width, height), 4)));
        }
    }
    return cost;
}

// A sequential JPEG is decoded scaled down by up to 8 to near the size asked for; any other kind
// (progressive, lossless, arithmetic) keeps two bytes a sample of the whole picture while it
// decodes. Bytes between segments are passed over, as the decoder passes over them. -1 when no
// frame header comes before the scan.
qint64 JpegCost(const QByteArray& b, QSize shown)
{
    qint64 at = 2;
    while (at + 4 <= b.size()) {
        const quint32 marker = Byte(b, at + 1);
        if (Byte(b, at) != 0xFF || marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return -1;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (at + 10 > b.size())
                return -1;
            const qint64 height = Be16(b, at + 5);
            const qint64 width = Be16(b, at + 7);
            const qint64 components = Byte(b, at + 9);
            if (marker != 0xC0 && marker != 0xC1)
                return width * height * (4 + 2 * components);
            const qint64 decoded =
                width > UserInfoForm::kMaxShownWidth || height > UserInfoForm::kMaxShownHeight
                    ? qMax(((width + 7) / 8) * ((height + 7) / 8), 16 * qint64(shown.width()) * shown.height())
                    : width * height;
            return decoded * 4;
        }
        at += 2 + Be16(b, at + 2);
    }
    return -1;
}

void SetText(QLineEdit* ip_edit, const QString& i_text)
{
    if (ip_edit->text() != i_text)
        ip_edit->setText(i_text);
}

}  // namespace

UserInfoForm::UserInfoForm(QWidget* parent)
    : QWidget(parent)
    , m_ui(new Ui_UserInfoForm)
{
    m_ui->setupUi(this);
    // The description comes from another user: its links are opened by this page alone, and only
    // web links, in the desktop's browser.
    connect(m_ui->userInfoText, &QTextBrowser::anchorClicked, this, &UserInfoForm::OnLinkClicked);
    connect(&m_decoder, &PictureDecoder::Decoded, this, &UserInfoForm::OnPictureDecoded);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this, &UserInfoForm::OnUserInfoReceived,
                Qt::DirectConnection);
}

UserInfoForm::~UserInfoForm()
{
    // Its answer would come to a page half gone.
    m_decoder.Stop();
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

QImage UserInfoForm::DecodePicture(const char* ip_bytes, int i_length, QString* o_refusal)
{
    const auto refuse = [o_refusal](const QString& why) {
        if (o_refusal)
            *o_refusal = why;
        return QImage();
    };
    if (!ip_bytes || i_length <= 0)
        return refuse("it is empty");
    // Read in place: the bytes belong to the messenger and are gone once this call returns, and
    // nothing here keeps them.
    QByteArray bytes = QByteArray::fromRawData(ip_bytes, i_length);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // Only formats whose decoders are known here, so that their cost can be told beforehand.
    const QByteArray format = reader.format();
    qint64 cost = -1;
    if (format == "gif") {
        cost = GifCost(bytes);
    } else if (format == "ico" || format == "cur") {
        cost = IconCost(bytes);
        if (cost < 0)
            return refuse("its icon entries lie outside it");
    } else if (format == "png") {
        cost = PngCost(bytes, 0);
    } else if (format != "jpeg" && format != "jpg" && format != "bmp" && format != "pbm" && format != "pgm" &&
               format != "ppm" && format != "xbm" && format != "xpm") {
        return refuse(format.isEmpty() ? QString("it does not decode")
                                       : QString("pictures in %1 format are not decoded").arg(QString(format)));
    }
    const QSize size = reader.size();
    // A format that cannot tell its size before decoding is not decoded blind.
    if (!size.isValid() || size.isEmpty())
        return refuse("it does not decode");
    const QSize shown = size.scaled(kMaxShownWidth, kMaxShownHeight, Qt::KeepAspectRatio);
    if (format == "jpeg" || format == "jpg")
        cost = JpegCost(bytes, shown);
    if (cost < 0)
        cost = qint64(size.width()) * size.height() * 4;
    if (cost > kMaxDecodeBytes)
        return refuse(QString("decoding it would take %1 MiB, more than %2 MiB")
                          .arg((cost + (1 << 20) - 1) >> 20)
                          .arg(kMaxDecodeBytes >> 20));
    // Decoders that scale while they read are told the size shown; the others are scaled below.
    if ((format == "png" || format == "jpeg" || format == "jpg") &&
        (size.width() > kMaxShownWidth || size.height() > kMaxShownHeight))
        reader.setScaledSize(shown);
    QImage image = reader.read();
    if (image.isNull())
        return refuse("it does not decode");
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
    m_reply = Reply{i_description, i_pictureBufferLength};
    // The figures show at once; the description waits for its picture, which may take a while.
    // A burst of replies sets them once each, and only where they change.
    SetText(m_ui->uploadSlotsEdit, QString::number(i_uploadSlots));
    SetText(m_ui->queuedUploadsEdit, QString::number(i_queuedUPloads));
    SetText(m_ui->freeToUploadEdit, i_freeUploadSlots ? "Yes" : "No");
    // A newer reply overtakes the picture of an older one still waiting or being decoded.
    if (i_hasPicture)
        m_decoder.Start(ip_pictureBuffer, i_pictureBufferLength);
    else {
        m_decoder.Stop();
        ShowReply(QImage());
    }
}

void UserInfoForm::OnPictureDecoded(const QImage& i_image, const QString& i_refusal)
{
    // A picture that does not decode (or is refused) leaves the rest of the reply to be shown.
    if (i_image.isNull())
        Log("Peer Messenger", 1,
            QString("Picture of %1 bytes in the user info of %2 not shown: %3")
                .arg(m_reply.pictureLength)
                .arg(m_user, i_refusal));
    ShowReply(i_image);
}

void UserInfoForm::ShowReply(const QImage& i_picture)
{
    QString html;
    if (!i_picture.isNull()) {
        m_ui->userInfoText->document()->addResource(QTextDocument::ImageResource, QUrl(kImageName), i_picture);
        html = QString("<img source=\"%1\" /><p>").arg(kImageName);
    }
    // The description is the other user's text, never markup: escaped, with its web addresses
    // made links and its line breaks kept.
    if (!m_reply.description.isEmpty() || !i_picture.isNull())
        html += ConvertLinks(m_reply.description).replace("\n", "<br>");
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
