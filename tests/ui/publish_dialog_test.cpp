// The publish dialog on the real main window, offscreen, against the real servers on 127.0.0.1
// and a real keyring (gnome-keyring-daemon on a D-Bus session of the test's own): a target typed
// into its form with its keys, 测试连接 failing and succeeding, the keys kept in the keyring and
// not in the settings, a publish that reads them there, the prefix offered, the check of the
// public copies finding a changed one; no keyring at all; an SFTP host's key asked once.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "job/image_names.h"
#include "publish/target_list.h"
#include "support/dav_server.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "support/keyring_session.h"
#include "support/s3_server.h"
#include "support/scoped_env.h"
#include "support/sshd_server.h"
#include "support/vsftpd_server.h"
#include "text/codec.h"
#include "ui/keyring.h"
#include "ui/publish_dialog.h"
#include "window_run_fixture.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::Child;
using testing::HttpServer;
using testing::MessageBoxAnswerer;
using testing::Reply;
using testing::ScopedEnv;

const std::string kPng = "\x89PNG\r\n\x1a\n the picture";
const std::string kStored = "files/img/" + job::ContentName(kPng) + ".png";

// Types into a field of the dialog as a person would (the form hears the edit).
void Type(QWidget& dialog, const char* field, const std::string& text) {
    auto* edit = Child<QLineEdit>(dialog, field);
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    // Text beyond ASCII goes in as an input method puts it.
    edit->insert(QString::fromStdString(text));
}

void ChooseKind(QWidget& dialog, int kind) {
    auto* box = Child<QComboBox>(dialog, "下拉框目标类型");
    box->setCurrentIndex(kind);
    emit box->activated(kind);
}

std::string Said(QWidget& dialog) {
    return ToGbk(Child<QLabel>(dialog, "标签测试结果")->text());
}

// A run of one article with one image, done in the window (its completion question answered No).
class PublishDialogRun : public testing::WindowRun {
  protected:
    PublishDialogRun() {
        server.Set("/p.png", Reply::Ok(kPng, "image/png"));
        dir.Write("文章/1.htm"_gbk, "<img src=\"" + server.Url("/p.png") + "\">");
    }
    void Run() {
        // A run that keeps its record, which knows what it stored: what the check of the public
        // copies reads.
        job::ExtensionOptions options = window.driver().options();
        options.incremental = true;
        window.driver().SetOptions(options);
        answerer.Add(QMessageBox::No);
        QTest::mouseClick(start, Qt::LeftButton);
        ASSERT_EQ(testing::ReadFileOrMissing(Result(kStored)), kPng);
    }
    void PublishWith(const std::vector<std::string>& targets, bool articles = false) {
        job::ExtensionOptions options = window.driver().options();
        options.publishTargets = targets;
        options.publishArticles = articles;
        window.driver().SetOptions(options);
        window.driver().PublishNow();
    }
    int Boxes(const char* holding) const {
        return static_cast<int>(answerer.texts.filter(QString::fromUtf8(holding)).size());
    }

    HttpServer server;
    MessageBoxAnswerer answerer;
};

class PublishDialogKeyring : public PublishDialogRun {
  protected:
    testing::KeyringSession keyring;
    ScopedEnv noKey{"AWS_ACCESS_KEY_ID", nullptr}, noSecret{"AWS_SECRET_ACCESS_KEY", nullptr};
};

TEST_F(PublishDialogKeyring, KeysTypedInTheFormAreTestedKeptInTheKeyringAndPublishWith) {
    ASSERT_TRUE(keyring.started()) << keyring.error();
    testing::S3Server s3;
    ASSERT_TRUE(s3.started()) << s3.error();
    window.editBox(EditBox::NewPrefix)->setText(QStringLiteral("http://old.example/"));
    Run();

    const WindowPublish result = window.driver().PublishRequest();
    PublishDialog dialog(PublishChoices{}, &window, &result);
    ChooseKind(dialog, 0);  // S3 compatible
    Type(dialog, "编辑框目标名称", "图床");
    Type(dialog, "编辑框服务地址", s3.endpoint());
    Type(dialog, "编辑框桶", s3.bucket());
    Type(dialog, "编辑框前缀", "site");
    Type(dialog, "编辑框密钥ID", s3.accessKey());
    Type(dialog, "编辑框密钥", "not-the-secret");
    const std::string publicAddress = server.Url("/pub");
    Type(dialog, "编辑框公开地址", publicAddress);

    // A wrong secret: the login is refused, in Chinese, naming what is wrong.
    EXPECT_EQ(dialog.TestConnection(),
              "无法登录 图床：密钥编号或密钥被拒绝，或它们不能使用这个桶。"_gbk);
    Type(dialog, "编辑框密钥", s3.secretKey());
    QTest::mouseClick(Child<QPushButton>(dialog, "按钮测试连接"), Qt::LeftButton);
    EXPECT_EQ(Said(dialog), "已登录 图床，可以访问桶 "_gbk + s3.bucket() +
                                " 的前缀 site/。桶里的对象可以查看。"_gbk);

    QTest::mouseClick(Child<QPushButton>(dialog, "确定"), Qt::LeftButton);
    ASSERT_EQ(dialog.result(), QDialog::Accepted) << answerer.texts.join('\n').toStdString();
    const PublishChoices chosen = dialog.choices();
    ASSERT_EQ(chosen.targets.size(), 1u);
    const std::string url = text::Utf8FromGbk(chosen.targets[0]);
    // The kept URL holds the key id, never the secret; the keyring holds that under its place.
    EXPECT_EQ(url, "s3://" + s3.bucket() + "/site/?endpoint=" + s3.endpoint() +
                       "&style=path&keyid=" + s3.accessKey() + "&public=" + publicAddress +
                       "&name=图床");
    EXPECT_EQ(url.find(s3.secretKey()), std::string::npos);
    std::string error;
    const auto target = publish::ResolveTarget({url}, url, error);
    ASSERT_TRUE(target) << error;
    const KeyringResult kept = ReadSecret(publish::TargetPlace(*target));
    EXPECT_EQ(kept.answer, KeyringAnswer::Done) << kept.why;
    EXPECT_EQ(kept.secret, s3.secretKey());

    // A publish reads the secret from the keyring. The articles point elsewhere than the
    // target's public address: they are left out, and the window offers the address as prefix.
    answerer.Add(QMessageBox::Ok);
    answerer.Add(QMessageBox::Yes);
    PublishWith(chosen.targets, true);
    EXPECT_EQ(s3.Object("site/" + kStored), kPng);
    EXPECT_FALSE(s3.Object("site/1.htm"));
    EXPECT_EQ(Boxes("发布到 图床：上传 1 个，已有 0 个。"), 1)
        << answerer.texts.join('\n').toStdString();
    EXPECT_EQ(Boxes("文章未发布"), 1);
    EXPECT_EQ(Boxes("是否把新的域名前缀改为"), 1);
    EXPECT_EQ(ToGbk(window.editBox(EditBox::NewPrefix)->text()), publicAddress);

    // The public copy served is not the image: the check lists it, with why.
    server.Set("/pub/" + kStored, Reply::Ok("a placeholder", "image/png"));
    PublishDialog again(chosen, &window, &result);
    QTest::mouseClick(Child<QPushButton>(again, "按钮检查公开副本"), Qt::LeftButton);
    EXPECT_EQ(Said(again),
              "检查了 图床 的 1 个公开副本：相同 0 个，缺失 0 个，内容不同 1 个，不是图片 0 个，"
              "无法访问 0 个。"_gbk);
    auto* copies = Child<QTreeWidget>(again, "列表框公开副本");
    ASSERT_EQ(copies->topLevelItemCount(), 1);
    EXPECT_EQ(copies->topLevelItem(0)->text(0).toStdString(), kStored);
    EXPECT_EQ(copies->topLevelItem(0)->text(1), QStringLiteral("内容不同"));
    server.Set("/pub/" + kStored, Reply::Ok(kPng, "image/png"));
    EXPECT_NE(again.VerifyCopies().find("相同 1 个"_gbk), std::string::npos);
}

TEST_F(PublishDialogKeyring, AnFtpAndAWebDavPasswordTypedInTheirFormsAreTestedKeptAndUsed) {
    ASSERT_TRUE(keyring.started()) << keyring.error();
    testing::VsftpdServer ftp(testing::FtpSecurity::Plain, "ftp-pass-2");
    ASSERT_TRUE(ftp.started()) << ftp.error();
    testing::DavServer dav(testing::DavKind::Nginx);
    ASSERT_TRUE(dav.started()) << dav.error();
    Run();
    struct Case {
        int kind;
        std::vector<std::pair<const char*, std::string>> fields;
        const char* passwordField;
        std::string password, name, onServer;
    };
    const Case cases[] = {
        {2,
         {{"编辑框FTP主机", "127.0.0.1"},
          {"编辑框FTP用户", testing::VsftpdServer::kUser},
          {"编辑框FTP文件夹", "pub/site"}},
         "编辑框FTP密码",
         "ftp-pass-2",
         "127.0.0.1",
         ftp.uploads() + "/site/" + kStored},
        {3,
         {{"编辑框WebDAV地址", "http://127.0.0.1:" + std::to_string(dav.port()) + "/site/"},
          {"编辑框WebDAV用户", dav.user()}},
         "编辑框WebDAV密码",
         dav.password(),
         "127.0.0.1",
         dav.root() + "/site/" + kStored},
    };
    for (const Case& c : cases) {
        PublishDialog dialog(PublishChoices{}, &window);
        ChooseKind(dialog, c.kind);
        for (const auto& [field, value] : c.fields) Type(dialog, field, value);
        if (c.kind == 2) Child<QSpinBox>(dialog, "编辑框FTP端口")->setValue(ftp.port());
        Type(dialog, c.passwordField, "wrong");
        EXPECT_EQ(dialog.TestConnection().rfind("无法登录 "_gbk, 0), 0u) << c.kind;
        Type(dialog, c.passwordField, c.password);
        EXPECT_EQ(dialog.TestConnection().rfind("已登录 "_gbk, 0), 0u)
            << text::Utf8FromGbk(Said(dialog));
        QTest::mouseClick(Child<QPushButton>(dialog, "确定"), Qt::LeftButton);
        ASSERT_EQ(dialog.result(), QDialog::Accepted) << answerer.texts.join('\n').toStdString();
        const std::vector<std::string> targets = dialog.choices().targets;
        ASSERT_EQ(targets.size(), 1u);
        EXPECT_EQ(targets[0].find(c.password), std::string::npos) << targets[0];
        answerer.Add(QMessageBox::Ok);
        PublishWith(targets);
        EXPECT_EQ(testing::ReadFileOrMissing(c.onServer), kPng)
            << targets[0] << "\n"
            << answerer.texts.join('\n').toStdString();
    }
}

TEST_F(PublishDialogRun, WithoutAKeyringTheSecretIsNotKeptAndTheWindowSaysSo) {
    testing::TempDir home;
    ScopedEnv homeEnv{"HOME", home.path().c_str()};
    ScopedEnv bus{"DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.path() + "/no-bus").c_str()};
    EXPECT_EQ(KeepSecret("ftp://me@127.0.0.1:21/", "pw").answer, KeyringAnswer::NoKeyring);

    PublishDialog dialog(PublishChoices{}, &window);
    ChooseKind(dialog, 2);  // FTP
    Type(dialog, "编辑框FTP主机", "127.0.0.1");
    Type(dialog, "编辑框FTP用户", "me");
    Type(dialog, "编辑框FTP密码", "hunter2");
    QTest::mouseClick(Child<QPushButton>(dialog, "确定"), Qt::LeftButton);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(Boxes("没有找到系统的钥匙串服务"), 1) << answerer.texts.join('\n').toStdString();
    EXPECT_EQ(dialog.choices().targets, std::vector<std::string>{"ftp://me@127.0.0.1/"});
    EXPECT_EQ(ReadSecret("ftp://me@127.0.0.1:21/").answer, KeyringAnswer::NoKeyring);
}

TEST_F(PublishDialogRun, AnUnknownHostKeyIsAskedOnceBeforeAnyRowAndKeptOnce) {
    testing::SshdServer sshd;
    ASSERT_TRUE(sshd.started()) << sshd.error();
    ScopedEnv home{"HOME", dir.path().c_str()};
    ASSERT_TRUE(sshd.Authorize(testing::SshdServer::MakeUserKey(dir.path() + "/.ssh")));
    Run();
    int rowsWhenAsked = -1;
    answerer.onBox = [&](QMessageBox* box) {
        if (box->text().contains(QStringLiteral("密钥还不认识"))) rowsWhenAsked = window.RowCount();
    };
    const std::string site = sshd.root() + "/站点/";
    const std::vector<std::string> targets = {
        "sftp://root@127.0.0.1:"_gbk + std::to_string(sshd.port()) + text::GbkFromUtf8(site)};

    // Not trusted: nothing is sent, no row is marked, and the message says why.
    answerer.Add(QMessageBox::No);
    PublishWith(targets);
    EXPECT_EQ(rowsWhenAsked, 0);
    EXPECT_EQ(Boxes("没有信任这个主机的密钥"), 1) << answerer.texts.join('\n').toStdString();
    EXPECT_EQ(testing::ReadFileOrMissing(text::GbkFromUtf8(site + kStored)), "<missing>");

    // Trusted: asked once for all the connections, its line kept once, the file sent.
    answerer.Add(QMessageBox::Yes);
    PublishWith(targets);
    EXPECT_EQ(Boxes("密钥还不认识"), 2);
    EXPECT_EQ(Boxes("信任它，就把这个密钥记到 ~/.ssh/known_hosts"), 2);
    EXPECT_EQ(rowsWhenAsked, 0);
    EXPECT_EQ(testing::ReadFileOrMissing(text::GbkFromUtf8(site + kStored)), kPng);
    EXPECT_EQ(testing::ReadFileOrMissing(dir / ".ssh/known_hosts"), sshd.KnownHostsLine() + "\n");
    // Known now: not asked again.
    PublishWith(targets);
    EXPECT_EQ(Boxes("密钥还不认识"), 2);
    EXPECT_EQ(Boxes("发布到 127.0.0.1：上传 0 个，已有 1 个。"), 1);
}

}  // namespace
}  // namespace zembrat::ui
