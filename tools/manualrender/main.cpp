// manualrender - renders the user manual from Markdown into a PDF at build time.
//
// Usage: manualrender SOURCE.md OUTPUT.pdf
// Owns: the page layout (A4, 2 cm margins) and the scaling of pictures to the text width.
// Promises: pictures are found relative to the Markdown file; a missing picture, an
// unreadable source or an unwritable output fails the build (non-zero exit, one line on
// standard error) instead of shipping a manual with holes. The PDF is written under a
// temporary name and renamed, so a failed run leaves no half-written manual. The same source
// gives the same bytes: Qt's hashing is made deterministic (it orders the PDF's font objects),
// and with SOURCE_DATE_EPOCH set (as reproducible package builds set it) the document's
// creation date is that time instead of the clock's.
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHashFunctions>
#include <QImage>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

int Fail(const QString& what) {
    std::fprintf(stderr, "manualrender: %s\n", qPrintable(what));
    return 1;
}

// Qt stamps /CreationDate (D:YYYYMMDDHHmmSS and a zone) with the clock. With
// SOURCE_DATE_EPOCH set, that date becomes the given time in UTC; the entry keeps its length
// (blanks pad it after the string, where the PDF syntax allows them), so the cross-reference
// offsets stay right. False if the file cannot be read or written back.
bool StampSourceDate(const QString& pdf) {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr || *epoch == '\0') {
        return true;
    }
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*end != '\0' || seconds < 0) {
        return true; // not a time: the clock's date stays, as with no variable at all
    }
    QFile file(pdf);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray bytes = file.readAll();
    file.close();
    const QByteArray key = "/CreationDate (";
    const qsizetype at = bytes.indexOf(key);
    const qsizetype close = at < 0 ? -1 : bytes.indexOf(')', at + key.size());
    if (close < 0) {
        return true; // Qt wrote no date: nothing to make reproducible
    }
    const QByteArray date =
        "D:" +
        QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString("yyyyMMddHHmmss").toLatin1() + "Z";
    const qsizetype room = close - (at + key.size());
    if (date.size() > room) {
        return true;
    }
    QByteArray entry = date + ")";
    entry.append(QByteArray(room - date.size(), ' '));
    bytes.replace(at + key.size(), entry.size(), entry);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(bytes) == bytes.size() && file.flush();
}

// Pictures at their pixel size would run off the page: each is fitted to the text width.
// Returns the name of the first picture that cannot be read, if any.
std::optional<QString> FitPicturesToWidth(QTextDocument& doc, const QString& baseDir,
                                          qreal textWidth) {
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!f.charFormat().isImageFormat()) {
                continue;
            }
            QTextImageFormat img = f.charFormat().toImageFormat();
            const QString path = QUrl(img.name()).isRelative() ? baseDir + "/" + img.name()
                                                               : QUrl(img.name()).toLocalFile();
            const QImage picture(path);
            if (picture.isNull()) {
                return img.name();
            }
            const qreal w = std::min<qreal>(textWidth, picture.width() * 0.6);
            img.setWidth(w);
            img.setHeight(w * picture.height() / picture.width());
            QTextCursor c(&doc);
            c.setPosition(f.position());
            c.setPosition(f.position() + f.length(), QTextCursor::KeepAnchor);
            c.setCharFormat(img);
        }
    }
    return std::nullopt;
}

// The PDF under a temporary name, then renamed over `output`; false, with the temporary
// file gone, when either step fails.
bool WritePdf(QTextDocument& doc, const QString& output) {
    const QString temp = output + ".part";
    {
        QPdfWriter writer(temp);
        writer.setTitle("Tessera User Manual");
        writer.setCreator("Tessera");
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        doc.print(&writer);
    }
    if (QFileInfo(temp).size() == 0 || !StampSourceDate(temp)) {
        QFile::remove(temp);
        return false;
    }
    QFile::remove(output);
    if (!QFile::rename(temp, output)) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QHashSeed::setDeterministicGlobalSeed();
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        return Fail("usage: manualrender SOURCE.md OUTPUT.pdf");
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        return Fail("cannot read " + source);
    }
    const QString markdown = QString::fromUtf8(in.readAll());
    const QString baseDir = QFileInfo(source).absolutePath();

    QTextDocument doc;
    doc.setBaseUrl(QUrl::fromLocalFile(baseDir + "/"));
    doc.setDefaultFont(QFont("DejaVu Sans", 10));
    // A4 in points; the document lays itself out on this page and print() scales it.
    const QSizeF page(595, 842);
    const qreal margin = 57; // 2 cm
    doc.setPageSize(page);
    doc.setDocumentMargin(margin);
    doc.setMarkdown(markdown);
    if (const auto unreadable = FitPicturesToWidth(doc, baseDir, page.width() - 2 * margin)) {
        return Fail("picture " + *unreadable + " of " + source + " cannot be read");
    }
    if (!WritePdf(doc, output)) {
        return Fail("cannot write " + output);
    }
    return 0;
}
