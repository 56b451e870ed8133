#include "app/mainwindow.h"
#include "forms/aboutdialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QResource>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

namespace {

const QString makerUrl = QStringLiteral("https://tempyra.example/");
const QString partnerUrl = QStringLiteral("https://pellam.example/");

QTextBrowser *pane(const QWidget *dialog, const char *name)
{
    return dialog->findChild<QTextBrowser *>(QLatin1String(name));
}

struct ImageRef
{
    QString name;
    QString href;
    int position;
};

QVector<ImageRef> imagesOf(const QTextDocument *document)
{
    QVector<ImageRef> images;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                images.append({fragment.charFormat().toImageFormat().name(),
                               fragment.charFormat().anchorHref(), fragment.position()});
        }
    }
    return images;
}

struct DialogSnapshot
{
    QSize size;
    QString iconHtml;
    QString textHtml;
    int leftWidth = 0;
    int rightWidth = 0;
};

DialogSnapshot snapshotOf(const QWidget *dialog)
{
    return {dialog->size(), pane(dialog, "textBrowser_2")->toHtml(),
            pane(dialog, "textBrowser")->toHtml(), pane(dialog, "textBrowser_2")->width(),
            pane(dialog, "textBrowser")->width()};
}

} // namespace

class UrlRecorder : public QObject
{
    Q_OBJECT

public slots:
    void open(const QUrl &url) { urls.append(url); }

public:
    QList<QUrl> urls;
};

class tst_AboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void structure_data();
    void structure();
    void layout();
    void panes_data();
    void panes();
    void fixedSizeAndLook();
    void textPage_data();
    void textPage();
    void pageImages_data();
    void pageImages();
    void logoClickOpensAddress_data();
    void logoClickOpensAddress();
    void endsRejected_data();
    void endsRejected();
    void resourceImages_data();
    void resourceImages();
    void resourceBundle();
    void iconFile();
    void openedTwiceFromMenu();
};

void tst_AboutDialog::structure_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    QTest::newRow("layout widget") << "verticalLayoutWidget"
                                   << "QWidget"
                                   << "aboutDialog";
    QTest::newRow("vertical layout") << "verticalLayout"
                                     << "QVBoxLayout"
                                     << "verticalLayoutWidget";
    QTest::newRow("horizontal layout") << "horizontalLayout"
                                       << "QHBoxLayout"
                                       << "verticalLayout";
    QTest::newRow("icon pane") << "textBrowser_2"
                               << "QTextBrowser"
                               << "verticalLayoutWidget";
    QTest::newRow("text pane") << "textBrowser"
                               << "QTextBrowser"
                               << "verticalLayoutWidget";
    QTest::newRow("button box") << "buttonBox"
                                << "QDialogButtonBox"
                                << "verticalLayoutWidget";
}

void tst_AboutDialog::structure()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    aboutDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("aboutDialog"));
    QCOMPARE(QString::fromLatin1(dialog.metaObject()->className()), QStringLiteral("aboutDialog"));

    const auto matches = dialog.findChildren<QObject *>(name);
    QCOMPARE(matches.size(), 1);
    QObject *object = matches.first();
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
    QVERIFY(object->parent());
    QCOMPARE(object->parent()->objectName(), parentName);
}

void tst_AboutDialog::layout()
{
    aboutDialog dialog;
    auto *container = dialog.findChild<QWidget *>(QStringLiteral("verticalLayoutWidget"));
    auto *vertical = dialog.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
    auto *horizontal = dialog.findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout"));
    QVERIFY(container && vertical && horizontal);

    QCOMPARE(container->geometry(), QRect(10, 10, 390, 200));
    QCOMPARE(container->layout(), vertical);
    QCOMPARE(vertical->sizeConstraint(), QLayout::SetMaximumSize);
    QCOMPARE(vertical->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(vertical->count(), 2);
    QCOMPARE(vertical->itemAt(0)->layout(), horizontal);
    QCOMPARE(vertical->itemAt(1)->widget(),
             dialog.findChild<QWidget *>(QStringLiteral("buttonBox")));

    QCOMPARE(horizontal->spacing(), 0);
    QCOMPARE(horizontal->count(), 2);
    QCOMPARE(horizontal->itemAt(0)->widget(), pane(&dialog, "textBrowser_2"));
    QCOMPARE(horizontal->itemAt(1)->widget(), pane(&dialog, "textBrowser"));
    QCOMPARE(horizontal->stretch(0), 1);
    QCOMPARE(horizontal->stretch(1), 2);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const int left = pane(&dialog, "textBrowser_2")->width();
    const int right = pane(&dialog, "textBrowser")->width();
    QCOMPARE(left + right, 390);
    QVERIFY2(qAbs(right - 2 * left) <= 1,
             qPrintable(QStringLiteral("panes are %1 and %2 wide").arg(left).arg(right)));
}

void tst_AboutDialog::panes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("icon pane") << "textBrowser_2" << false;
    QTest::newRow("text pane") << "textBrowser" << true;
}

void tst_AboutDialog::panes()
{
    QFETCH(QString, name);
    QFETCH(bool, enabled);

    aboutDialog dialog;
    auto *browser = dialog.findChild<QTextBrowser *>(name);
    QVERIFY(browser);
    QCOMPARE(browser->isEnabled(), enabled);
    QCOMPARE(browser->contextMenuPolicy(), Qt::NoContextMenu);
    QVERIFY(!browser->acceptDrops());
    QCOMPARE(browser->frameShape(), QFrame::NoFrame);
    QVERIFY(browser->openExternalLinks());
    QVERIFY(browser->isReadOnly());
}

void tst_AboutDialog::fixedSizeAndLook()
{
    aboutDialog dialog;
    QCOMPARE(dialog.size(), QSize(400, 222));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(400, 222));
    QCOMPARE(dialog.minimumSize(), QSize(400, 222));
    QCOMPARE(dialog.maximumSize(), QSize(400, 222));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About"));

    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QCOMPARE(buttons->orientation(), Qt::Horizontal);
    QCOMPARE(buttons->standardButtons(),
             QDialogButtonBox::StandardButtons(QDialogButtonBox::Close));

    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (auto role : {QPalette::Base, QPalette::Window}) {
            const QBrush brush = dialog.palette().brush(group, role);
            QCOMPARE(brush.style(), Qt::SolidPattern);
            QCOMPARE(brush.color(), QColor(255, 255, 255, 255));
        }
    }
}

void tst_AboutDialog::textPage_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("text");

    QTest::newRow("product") << 0 << "Tempyra Configuration Tool v1.2";
    QTest::newRow("gap after product") << 1 << "";
    QTest::newRow("build date") << 2 << "Built on April 30 2021 04:32:17";
    QTest::newRow("gap after date") << 3 << "";
    QTest::newRow("notice") << 4 << QStringLiteral("\u00a9 2021 Tempyra. All rights reserved.");
    QTest::newRow("gap after notice") << 5 << "";
    QTest::newRow("gap between logos") << 7 << "";
}

void tst_AboutDialog::textPage()
{
    QFETCH(int, block);
    QFETCH(QString, text);

    aboutDialog dialog;
    const QTextDocument *document = pane(&dialog, "textBrowser")->document();
    QCOMPARE(document->blockCount(), 9);
    QCOMPARE(document->findBlockByNumber(block).text(), text);
    QVERIFY(pane(&dialog, "textBrowser")->toPlainText().contains(text));
}

void tst_AboutDialog::pageImages_data()
{
    QTest::addColumn<QString>("paneName");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("href");
    QTest::addColumn<int>("block");
    QTest::addColumn<QSize>("size");

    QTest::newRow("product icon") << "textBrowser_2" << 0 << ":/logos/iconLogo.png"
                                  << "" << 1 << QSize(96, 96);
    QTest::newRow("maker logo") << "textBrowser" << 0 << ":/logos/orrinLogo.png" << makerUrl << 6
                                << QSize(96, 17);
    QTest::newRow("partner logo") << "textBrowser" << 1 << ":/logos/pellamLogo.png" << partnerUrl
                                  << 8 << QSize(31, 20);
}

void tst_AboutDialog::pageImages()
{
    QFETCH(QString, paneName);
    QFETCH(int, index);
    QFETCH(QString, image);
    QFETCH(QString, href);
    QFETCH(int, block);
    QFETCH(QSize, size);

    aboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTextBrowser *browser = dialog.findChild<QTextBrowser *>(paneName);
    const QVector<ImageRef> images = imagesOf(browser->document());
    QCOMPARE(images.size(), paneName == QLatin1String("textBrowser") ? 2 : 1);
    const ImageRef &ref = images.at(index);
    QCOMPARE(ref.name, image);
    QCOMPARE(ref.href, href);
    QCOMPARE(browser->document()->findBlock(ref.position).blockNumber(), block);

    // The pane itself must be able to load the picture, at its natural size.
    const QVariant loaded = browser->loadResource(QTextDocument::ImageResource, QUrl(image));
    QImage picture;
    QVERIFY(picture.loadFromData(loaded.toByteArray()));
    QCOMPARE(picture.size(), size);
}

void tst_AboutDialog::logoClickOpensAddress_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("href");

    QTest::newRow("maker logo") << 0 << makerUrl;
    QTest::newRow("partner logo") << 1 << partnerUrl;
}

void tst_AboutDialog::logoClickOpensAddress()
{
    QFETCH(int, index);
    QFETCH(QString, href);

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");

    aboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTextBrowser *browser = pane(&dialog, "textBrowser");
    const ImageRef ref = imagesOf(browser->document()).at(index);

    QTextCursor cursor(browser->document());
    cursor.setPosition(ref.position);
    const QRect at = browser->cursorRect(cursor);
    const QPoint point(at.left() + 8, at.center().y());
    QCOMPARE(browser->anchorAt(point), href);

    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QCOMPARE(recorder.urls, QList<QUrl>() << QUrl(href));
    QVERIFY(dialog.isVisible());
    QCOMPARE(browser->source(), QUrl());
}

void tst_AboutDialog::endsRejected_data()
{
    QTest::addColumn<int>("way");

    QTest::newRow("close button") << 0;
    QTest::newRow("escape key") << 1;
    QTest::newRow("window close") << 2;
}

void tst_AboutDialog::endsRejected()
{
    QFETCH(int, way);

    aboutDialog dialog;
    dialog.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &QDialog::finished);
    QSignalSpy accepted(&dialog, &QDialog::accepted);

    switch (way) {
    case 0:
        dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Close)
            ->click();
        break;
    case 1:
        QTest::keyClick(&dialog, Qt::Key_Escape);
        break;
    default:
        dialog.close();
        break;
    }

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Rejected));
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
}

void tst_AboutDialog::resourceImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");

    QTest::newRow("product icon") << ":/logos/iconLogo.png" << QSize(96, 96);
    QTest::newRow("maker logo") << ":/logos/orrinLogo.png" << QSize(96, 17);
    QTest::newRow("partner logo") << ":/logos/pellamLogo.png" << QSize(31, 20);
}

void tst_AboutDialog::resourceImages()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);

    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
}

void tst_AboutDialog::resourceBundle()
{
    QVERIFY(QFileInfo(QStringLiteral(":/logos")).isDir());
    const QStringList files {QStringLiteral("icon.ico"), QStringLiteral("iconLogo.png"),
                             QStringLiteral("orrinLogo.png"), QStringLiteral("pellamLogo.png")};
    QCOMPARE(QDir(QStringLiteral(":/logos")).entryList(QDir::Files, QDir::Name), files);
    for (const QString &file : files) {
        const QResource resource(QStringLiteral(":/logos/") + file);
        QVERIFY(resource.isValid());
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    }
}

void tst_AboutDialog::iconFile()
{
    const QList<int> sizes {16, 24, 32, 48, 64, 72, 80, 96, 128, 256};
    QImageReader reader(QStringLiteral(":/logos/icon.ico"), "ico");
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.imageCount(), sizes.size());

    QList<int> seen;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        QVERIFY(image.hasAlphaChannel());
        seen.append(image.width());
    }
    QCOMPARE(seen, sizes);
}

void tst_AboutDialog::openedTwiceFromMenu()
{
    QPointer<MainWindow> window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *menu = window->findChild<QMenu *>(QStringLiteral("menuAbout"));
    QVERIFY(menu);

    QVector<DialogSnapshot> shown;
    QVector<bool> wasModal;
    for (int opening = 0; opening < 2; ++opening) {
        QTimer::singleShot(0, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            auto *dialog = qobject_cast<aboutDialog *>(modal);
            wasModal.append(dialog != nullptr && dialog->parent() == window);
            if (!dialog) {
                const auto all = window->findChildren<aboutDialog *>();
                for (aboutDialog *candidate : all) {
                    if (candidate->isVisible())
                        dialog = candidate;
                }
            }
            if (dialog) {
                shown.append(snapshotOf(dialog));
                dialog->reject();
            }
        });
        emit menu->aboutToShow();
    }

    QCOMPARE(wasModal, QVector<bool>({true, true}));
    QCOMPARE(shown.size(), 2);
    for (const DialogSnapshot &snapshot : shown) {
        QCOMPARE(snapshot.size, QSize(400, 222));
        QVERIFY(qAbs(snapshot.rightWidth - 2 * snapshot.leftWidth) <= 1);
    }
    QCOMPARE(shown.at(1).iconHtml, shown.at(0).iconHtml);
    QCOMPARE(shown.at(1).textHtml, shown.at(0).textHtml);

    const auto dialogs = window->findChildren<aboutDialog *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(dialogs.size(), 2);
    QList<QPointer<aboutDialog>> kept;
    for (aboutDialog *dialog : dialogs) {
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        kept.append(dialog);
    }

    delete window;
    for (const auto &dialog : kept)
        QVERIFY(dialog.isNull());
}

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"
