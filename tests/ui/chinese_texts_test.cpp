// Every text the window puts before the user is Chinese: the main window (idle and during a run),
// the options dialog, the publish dialog, the help dialog, the run's results and every message box
// of a run, a save and a retry. Allowed: the described captions as they stand, addresses, file
// names and paths, command-line switches and a few proper names.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>

#include "job/option_table.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "support/option_samples.h"
#include "text/codec.h"
#include "ui/extension_dialog.h"
#include "ui/help.h"
#include "ui/publish_dialog.h"
#include "ui/publish_words.h"
#include "ui/results_dialog.h"
#include "window_run_fixture.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::Child;
using testing::HttpServer;
using testing::MessageBoxAnswerer;
using testing::Reply;

// Proper names and the described captions' Latin words, which stand as they are.
const QStringList& AllowedWords() {
    static const QStringList words = {"Zembrat", "zembrat", "Qorv",     "QQ",     "SFTP",  "FTP",
                                      "FTPS",    "WebDAV",  "SSH",      "HTTP",   "https", "http",
                                      "TLS",     "CRC",     "Markdown", "Cookie", "S3",    "AWS",
                                      "WebP",    "AVIF",    "EXIF",     "GPS",    "XMP",   "IPTC"};
    return words;
}

// The Latin words of a text that are neither an address, a file name, pattern or path, a switch,
// an HTML or address token the text quotes (an attribute, an entity, a query key), nor allowed.
QStringList EnglishWords(QString text) {
    static const QRegularExpression address(QStringLiteral("[A-Za-z][A-Za-z0-9+.-]*://\\S*"));
    static const QRegularExpression switches(QStringLiteral("--[a-z][a-z-]*"));
    static const QRegularExpression fileName(QStringLiteral("[\\w*~-]*\\.[A-Za-z0-9]+\\b"));
    static const QRegularExpression markup(
        QStringLiteral("\\b(src|srcset|data-[\\w-]+)\\b|&\\w+;|[?&]\\w+="));
    static const QRegularExpression path(QStringLiteral("[\\w.~-]*(/[\\w.~-]+)+/?"));
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    text.remove(address).remove(switches).remove(markup).remove(fileName).remove(path);
    QStringList found;
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const QString w = it.next().captured();
        if (!AllowedWords().contains(w)) found << w;
    }
    return found;
}

// Every text a window and its controls show: titles, captions, tips, placeholders, list headers
// and rows, combo box items, spin box affixes. The edit boxes' own texts are the user's.
QStringList TextsOf(const QWidget& root) {
    QStringList texts;
    QList<const QWidget*> widgets{&root};
    for (const QWidget* w : root.findChildren<QWidget*>()) widgets << w;
    for (const QWidget* w : widgets) {
        if (w->isWindow()) texts << w->windowTitle();
        texts << w->toolTip() << w->statusTip() << w->whatsThis();
        if (auto* l = qobject_cast<const QLabel*>(w)) texts << l->text();
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) texts << b->text();
        if (auto* e = qobject_cast<const QLineEdit*>(w)) texts << e->placeholderText();
        if (auto* e = qobject_cast<const QPlainTextEdit*>(w)) texts << e->placeholderText();
        if (auto* g = qobject_cast<const QGroupBox*>(w)) texts << g->title();
        if (auto* m = qobject_cast<const QMessageBox*>(w))
            texts << m->text() << m->informativeText();
        if (auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i) texts << c->itemText(i);
        if (auto* s = qobject_cast<const QAbstractSpinBox*>(w)) texts << s->specialValueText();
        if (auto* s = qobject_cast<const QSpinBox*>(w)) texts << s->prefix() << s->suffix();
        if (auto* t = qobject_cast<const QTreeWidget*>(w)) {
            for (int c = 0; c < t->columnCount(); ++c) texts << t->headerItem()->text(c);
            for (int i = 0; i < t->topLevelItemCount(); ++i)
                for (int c = 0; c < t->columnCount(); ++c)
                    texts << t->topLevelItem(i)->text(c) << t->topLevelItem(i)->toolTip(c);
        }
    }
    texts.removeAll(QString());
    return texts;
}

// What of a window is English, as "object name: text".
QStringList EnglishIn(const QWidget& root) {
    QStringList english;
    for (const QString& text : TextsOf(root))
        if (!EnglishWords(text).isEmpty())
            english << root.objectName() + ": " + text + "  [" + EnglishWords(text).join(' ') + "]";
    return english;
}

class ChineseTexts : public testing::WindowRun {
  protected:
    ChineseTexts() {
        // As the program does: Qt's own texts (standard buttons) in Chinese.
        if (qtTranslations.load(QStringLiteral("qtbase_zh_CN"),
                                QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTranslations);
        server.Set("/a.png", Reply::Ok("PNG a"));
        server.Set("/gone.png", Reply::Status(404));
        answerer.onBox = [this](QMessageBox* box) {
            boxes << box->text();
            english << EnglishIn(*box);
        };
    }
    ~ChineseTexts() override { QCoreApplication::removeTranslator(&qtTranslations); }

    QTranslator qtTranslations;
    HttpServer server;
    MessageBoxAnswerer answerer;
    QStringList boxes, english;
};

TEST(EnglishWordsOfAText, FindsEnglishAndLeavesAddressesNamesAndSwitches) {
    struct Case {
        const char* text;
        QStringList english;
    };
    const Case cases[] = {
        {"下载失败", {}},
        {"Download failed", {"Download", "failed"}},
        {"无法发布：unknown scheme", {"unknown", "scheme"}},
        {"保存在 Zembrat.ini 中，命令行（zembrat --run）也使用", {}},
        {"http://127.0.0.1:9/x.gif 状态码 404", {}},
        {"files/img/3A7F09C1.jpg 和 转存报告.csv", {}},
        {"sftp://用户@主机:端口/路径/ 或 S3", {}},
        {"在这个目录下‘/tmp/文章’找不到‘*.none’类型的文件！", {}},
        {"除 src 外，还读取 data-src 和 srcset；&amp; 按字符", {}},
        {"s3://桶/?endpoint=地址 可加 &name=名称", {}},
        {"Yes", {"Yes"}},
        {"&No", {"No"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EnglishWords(QString::fromUtf8(c.text)), c.english) << c.text;
}

TEST(PublishWordsOfAMessage, EveryKindOfPublishFailureHasChineseWords) {
    // What the transports, the runner and the target parser say (the console's English), as the
    // window tells it: Chinese, and not the words for a message of no known kind.
    const char* const messages[] = {
        "site: the server refused the login (bad user name, password or key)",
        "\"b\": the secret access key does not match the access key (SignatureDoesNotMatch)",
        "\"b\": the access key is not known to the server (InvalidAccessKeyId)",
        "\"b\": the bucket \"b\" does not exist",
        "\"b\": access is denied to these keys (AccessDenied)",
        "h: the host is unreachable or refused the connection",
        "h: the host name is unknown",
        "h: the server did not answer in time (time-out)",
        "h: the server's certificate or key is not trusted",
        "h: THE HOST KEY HAS CHANGED: the server now shows SHA256:x",
        "h: the host key is unknown (not in /root/.ssh/known_hosts); its fingerprint is SHA256:x",
        "/home/u/.ssh/id_ed25519 is readable by others (0644): OpenSSH refuses such a file",
        "/home/u/.netrc is writable by others (0666): anyone could change the logins",
        "no access key: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, or give the profile",
        "h: files/a.png: another file is already there under files/a.png (it was not overwritten)",
        "files/a.png: a link stands at its name or on its way; nothing below the result folder is",
        "h: uploading a.png; the server's disk is full",
        "h: the server took the upload, but a look finds nothing under its name",
        "no publish target is set: give one as a URL, or add one in the settings",
        "target \"sftp://u:***@h/\": no password in a target: it comes from the keyring",
        "target \"x://h\": unknown scheme \"x\" (sftp, ftp, ftpes, ftps, dav, davs or s3)",
    };
    const std::string unknown = PublishWords("something nobody foresaw");
    for (const char* message : messages) {
        const std::string words = PublishWords(message);
        EXPECT_NE(words, unknown) << message;
        EXPECT_EQ(EnglishWords(ToQString(words)), QStringList()) << message;
    }
    EXPECT_EQ(EnglishWords(ToQString(unknown)), QStringList());
}

TEST_F(ChineseTexts, EveryDialogOfTheWindowAndEveryMessageOfARunAndARetry) {
    // Idle, and during a run with rows in the status list.
    english << EnglishIn(window);
    dir.Write("文章/a.htm"_gbk, "<img src=\"" + server.Url("/a.png") + "\"><img src=\"" +
                                    server.Url("/gone.png") + "\"><img src=\"/rel.png\">");
    Reply slow = Reply::Ok("PNG b");
    slow.delay = std::chrono::milliseconds(800);
    server.Set("/b.png", slow);
    dir.Write("文章/b.htm"_gbk, "<img src=\"" + server.Url("/b.png") + "\"><img src=\"" +
                                    server.Url("/gone.png") + "\">");
    bool walkedDuringRun = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (walkedDuringRun || window.RowCount() < 2) return;
        walkedDuringRun = true;
        english << EnglishIn(window);
        QTest::mouseClick(Child<QToolButton>(window, "按钮查看运行结果"), Qt::LeftButton);
        window.resultsDialog()->Refresh();
        english << EnglishIn(*window.resultsDialog());
    });
    poll.start();
    answerer.Add(QMessageBox::No);
    QTest::mouseClick(start, Qt::LeftButton);
    poll.stop();
    EXPECT_TRUE(walkedDuringRun);

    // The run's results with a failed, a stored and a dropped row; the retry's messages.
    ResultsDialog* results = window.resultsDialog();
    ASSERT_NE(results, nullptr);
    results->Refresh();
    EXPECT_GE(Child<QTreeWidget>(*results, "列表框运行结果")->topLevelItemCount(), 5);
    english << EnglishIn(*results);
    answerer.Add(QMessageBox::No);
    QTest::mouseClick(Child<QPushButton>(*results, "按钮重试失败的图片"), Qt::LeftButton);
    results->Refresh();
    english << EnglishIn(*results);
    server.Set("/gone.png", Reply::Ok("PNG gone"));
    answerer.Add(QMessageBox::No);
    window.RetryFailed();
    window.RetryFailed();  // nothing left: says so

    // A save that cannot be written (the store is bound to no file), an empty listing.
    window.editBox(EditBox::ArticleFilter)->setText(QStringLiteral("*.none"));
    QTest::mouseClick(start, Qt::LeftButton);
    QTest::mousePress(Child<QWidget>(window, "超级链接框保存"), Qt::LeftButton);
    EXPECT_GE(boxes.size(), 6) << boxes.join('\n').toStdString();

    // The help dialog, the options dialog with every option set, the publish dialog.
    testing::WhenModalAppears([&](QWidget* dialog) {
        english << EnglishIn(*dialog);
        dialog->close();
        return true;
    });
    window.ShowHelp();
    job::ExtensionOptions all;
    for (const job::OptionDescriptor& d : job::OptionTable())
        if (d.place != job::DialogPlace::None) d.Set(all, testing::NonDefaultText(d));
    ExtensionDialog options(all, &window);
    english << EnglishIn(options);
    PublishDialog publish(PublishChoices{}, &window);
    english << EnglishIn(publish);
    // Each target kind's form, and what a failed test of a target and a check without a result
    // say there.
    PublishDialog forms(
        PublishChoices{{"sftp://127.0.0.1:1/a/"_gbk, "ftpes://127.0.0.1:1/"_gbk,
                        "davs://127.0.0.1:1/d/"_gbk, "s3://b/?endpoint=http://127.0.0.1:1"_gbk},
                       {},
                       false,
                       false},
        &window);
    auto* targets = Child<QListWidget>(forms, "列表框发布目标");
    for (int row = 0; row < targets->count(); ++row) {
        targets->setCurrentRow(row);
        forms.TestConnection();
        english << EnglishIn(forms);
    }
    forms.VerifyCopies();
    english << EnglishIn(forms);

    EXPECT_TRUE(english.isEmpty()) << english.join('\n').toStdString();
}

}  // namespace
}  // namespace zembrat::ui
