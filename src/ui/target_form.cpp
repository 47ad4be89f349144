#include "ui/target_form.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "publish/target_list.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "ui/publish_words.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;

// The pages, in the order of the kind box.
enum Page { kS3, kSftp, kFtp, kDav };

QString Q8(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
std::string U8(const QLineEdit* edit) {
    return edit->text().trimmed().toStdString();
}

QSpinBox* PortBox(QWidget* parent, const char* name) {
    auto* port = new QSpinBox(parent);
    port->setObjectName(QString::fromUtf8(name));
    port->setRange(0, 65535);
    port->setSpecialValueText(QStringLiteral("默认"));
    return port;
}

}  // namespace

QLineEdit* TargetForm::Field(const char* name, bool secret) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromUtf8(name));
    if (secret) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setPlaceholderText(QStringLiteral("保存在系统钥匙串里；留空则不改"));
    }
    connect(edit, &QLineEdit::textEdited, this, &TargetForm::edited);
    return edit;
}

TargetForm::TargetForm(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QFormLayout;
    kind_ = new QComboBox(this);
    kind_->setObjectName(QStringLiteral("下拉框目标类型"));
    kind_->addItems({QStringLiteral("S3 兼容存储"), QStringLiteral("SFTP"),
                     QStringLiteral("FTP / FTPS"), QStringLiteral("WebDAV")});
    name_ = Field("编辑框目标名称");
    name_->setPlaceholderText(QStringLiteral("空则用主机名或桶名"));
    top->addRow(QStringLiteral("类型："), kind_);
    top->addRow(QStringLiteral("名称："), name_);
    layout->addLayout(top);

    pages_ = new QStackedWidget(this);
    auto page = [this](Page which) {
        auto* widget = new QWidget(pages_);
        auto* form = new QFormLayout(widget);
        form->setContentsMargins(0, 0, 0, 0);
        pages_->insertWidget(which, widget);
        return form;
    };
    QFormLayout* s3 = page(kS3);
    s3Endpoint_ = Field("编辑框服务地址");
    s3Endpoint_->setPlaceholderText(QStringLiteral("https://s3.example.com"));
    s3Bucket_ = Field("编辑框桶");
    s3Prefix_ = Field("编辑框前缀");
    s3Region_ = Field("编辑框区域");
    s3Region_->setPlaceholderText(QStringLiteral("空则用默认区域"));
    s3Style_ = new QComboBox(this);
    s3Style_->setObjectName(QStringLiteral("下拉框访问方式"));
    s3Style_->addItems({QStringLiteral("路径方式（服务地址/桶/）"),
                        QStringLiteral("虚拟主机方式（桶.服务地址/）")});
    s3KeyId_ = Field("编辑框密钥ID");
    s3Secret_ = Field("编辑框密钥", true);
    s3->addRow(QStringLiteral("服务地址："), s3Endpoint_);
    s3->addRow(QStringLiteral("桶："), s3Bucket_);
    s3->addRow(QStringLiteral("前缀："), s3Prefix_);
    s3->addRow(QStringLiteral("区域："), s3Region_);
    s3->addRow(QStringLiteral("访问方式："), s3Style_);
    s3->addRow(QStringLiteral("密钥编号："), s3KeyId_);
    s3->addRow(QStringLiteral("密钥："), s3Secret_);

    QFormLayout* sftp = page(kSftp);
    sftpHost_ = Field("编辑框SFTP主机");
    sftpPort_ = PortBox(this, "编辑框SFTP端口");
    sftpUser_ = Field("编辑框SFTP用户");
    sftpUser_->setPlaceholderText(QStringLiteral("空则为登录名"));
    sftpFolder_ = Field("编辑框SFTP文件夹");
    sftpFolder_->setPlaceholderText(QStringLiteral("/var/www/site/ 或相对登录目录"));
    sftpAgent_ = new QRadioButton(QStringLiteral("SSH 代理或 ~/.ssh 里的密钥"), this);
    sftpAgent_->setObjectName(QStringLiteral("单选SSH代理"));
    sftpAgent_->setChecked(true);
    sftpKey_ = new QRadioButton(QStringLiteral("密钥文件："), this);
    sftpKey_->setObjectName(QStringLiteral("单选密钥文件"));
    sftpKeyFile_ = Field("编辑框密钥文件");
    sftpKeyFile_->setPlaceholderText(QStringLiteral("~/.ssh/id_ed25519"));
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(sftpKey_);
    keyRow->addWidget(sftpKeyFile_, 1);
    sftp->addRow(QStringLiteral("主机："), sftpHost_);
    sftp->addRow(QStringLiteral("端口："), sftpPort_);
    sftp->addRow(QStringLiteral("用户："), sftpUser_);
    sftp->addRow(QStringLiteral("文件夹："), sftpFolder_);
    sftp->addRow(QStringLiteral("登录："), sftpAgent_);
    sftp->addRow(QString(), keyRow);

    QFormLayout* ftp = page(kFtp);
    ftpSecurity_ = new QComboBox(this);
    ftpSecurity_->setObjectName(QStringLiteral("下拉框FTP加密"));
    ftpSecurity_->addItems({QStringLiteral("不加密（ftp://）"),
                            QStringLiteral("显式 TLS（ftpes://）"),
                            QStringLiteral("隐式 TLS（ftps://）")});
    ftpHost_ = Field("编辑框FTP主机");
    ftpPort_ = PortBox(this, "编辑框FTP端口");
    ftpUser_ = Field("编辑框FTP用户");
    ftpFolder_ = Field("编辑框FTP文件夹");
    ftpPassword_ = Field("编辑框FTP密码", true);
    ftp->addRow(QStringLiteral("加密："), ftpSecurity_);
    ftp->addRow(QStringLiteral("主机："), ftpHost_);
    ftp->addRow(QStringLiteral("端口："), ftpPort_);
    ftp->addRow(QStringLiteral("用户："), ftpUser_);
    ftp->addRow(QStringLiteral("文件夹："), ftpFolder_);
    ftp->addRow(QStringLiteral("密码："), ftpPassword_);

    QFormLayout* dav = page(kDav);
    davUrl_ = Field("编辑框WebDAV地址");
    davUrl_->setPlaceholderText(QStringLiteral("https://dav.example.com/site/"));
    davUser_ = Field("编辑框WebDAV用户");
    davPassword_ = Field("编辑框WebDAV密码", true);
    dav->addRow(QStringLiteral("地址："), davUrl_);
    dav->addRow(QStringLiteral("用户："), davUser_);
    dav->addRow(QStringLiteral("密码："), davPassword_);
    // The pages keep their height in a larger dialog: the room goes to the lists around.
    pages_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addWidget(pages_);

    auto* bottom = new QFormLayout;
    public_ = Field("编辑框公开地址");
    public_->setPlaceholderText(
        QStringLiteral("https://img.example.com（网站上看到这些文件的地址）"));
    bottom->addRow(QStringLiteral("公开地址："), public_);
    layout->addLayout(bottom);

    connect(kind_, &QComboBox::activated, this, [this](int index) {
        pages_->setCurrentIndex(index);
        emit edited();
    });
    for (QComboBox* box : {s3Style_, ftpSecurity_})
        connect(box, &QComboBox::activated, this, &TargetForm::edited);
    for (QSpinBox* box : {sftpPort_, ftpPort_})
        connect(box, &QSpinBox::valueChanged, this, &TargetForm::edited);
    for (QRadioButton* button : {sftpAgent_, sftpKey_})
        connect(button, &QRadioButton::clicked, this, &TargetForm::edited);
}

void TargetForm::Clear() {
    for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->clear();
    sftpPort_->setValue(0);
    ftpPort_->setValue(0);
    sftpAgent_->setChecked(true);
    s3Style_->setCurrentIndex(0);
    ftpSecurity_->setCurrentIndex(0);
}

bool TargetForm::Show(const std::string& url) {
    std::string error;
    const std::optional<publish::Target> target = publish::ResolveTarget({url}, url, error);
    Clear();
    if (!target) return false;
    const publish::Target& t = *target;
    const bool named = url.find("name=") != std::string::npos;
    name_->setText(named ? Q8(t.name) : QString());
    public_->setText(Q8(t.publicAddress));
    Page page = kS3;
    switch (t.protocol) {
        case publish::Protocol::S3:
            s3Endpoint_->setText(Q8(t.endpoint));
            s3Bucket_->setText(Q8(t.bucket));
            s3Prefix_->setText(Q8(t.path));
            s3Region_->setText(Q8(t.region));
            s3Style_->setCurrentIndex(t.pathStyle ? 0 : 1);
            s3KeyId_->setText(Q8(t.accessKeyId));
            break;
        case publish::Protocol::Sftp:
            page = kSftp;
            sftpHost_->setText(Q8(t.host));
            sftpPort_->setValue(t.port);
            sftpUser_->setText(Q8(t.user));
            sftpFolder_->setText(Q8(t.path));
            (t.keyFile.empty() ? sftpAgent_ : sftpKey_)->setChecked(true);
            sftpKeyFile_->setText(Q8(t.keyFile));
            break;
        case publish::Protocol::Ftp:
        case publish::Protocol::FtpExplicit:
        case publish::Protocol::FtpImplicit:
            page = kFtp;
            ftpSecurity_->setCurrentIndex(t.protocol == publish::Protocol::Ftp           ? 0
                                          : t.protocol == publish::Protocol::FtpExplicit ? 1
                                                                                         : 2);
            ftpHost_->setText(Q8(t.host));
            ftpPort_->setValue(t.port);
            ftpUser_->setText(Q8(t.user));
            ftpFolder_->setText(Q8(t.path));
            break;
        case publish::Protocol::Dav:
        case publish::Protocol::Davs: {
            page = kDav;
            // The address as a browser takes it: the target URL with http or https for dav.
            const std::string scheme = t.protocol == publish::Protocol::Davs ? "https" : "http";
            publish::Target address;
            address.protocol = t.protocol;
            address.host = t.host;
            address.port = t.port;
            address.path = t.path;
            const std::string plain = publish::TargetUrl(address);
            davUrl_->setText(Q8(scheme + plain.substr(plain.find("://"))));
            davUser_->setText(Q8(t.user));
            break;
        }
    }
    kind_->setCurrentIndex(page);
    pages_->setCurrentIndex(page);
    return true;
}

std::optional<std::string> TargetForm::Url(std::string& error) const {
    publish::Target t;
    const auto missing = [&error](const char* what) -> std::optional<std::string> {
        error = "请填写"_gbk + text::GbkFromUtf8(what) + "。"_gbk;
        return std::nullopt;
    };
    switch (kind_->currentIndex()) {
        case kS3:
            t.protocol = publish::Protocol::S3;
            if (U8(s3Bucket_).empty()) return missing("桶");
            if (U8(s3Endpoint_).empty()) return missing("服务地址");
            t.bucket = U8(s3Bucket_);
            t.endpoint = U8(s3Endpoint_);
            t.path = U8(s3Prefix_);
            t.region = U8(s3Region_);
            t.pathStyle = s3Style_->currentIndex() == 0;
            t.accessKeyId = U8(s3KeyId_);
            break;
        case kSftp:
            t.protocol = publish::Protocol::Sftp;
            if (U8(sftpHost_).empty()) return missing("主机");
            t.host = U8(sftpHost_);
            t.port = sftpPort_->value();
            t.user = U8(sftpUser_);
            t.path = U8(sftpFolder_);
            if (sftpKey_->isChecked()) {
                if (U8(sftpKeyFile_).empty()) return missing("密钥文件");
                t.keyFile = U8(sftpKeyFile_);
            }
            break;
        case kFtp: {
            constexpr publish::Protocol kFtps[] = {publish::Protocol::Ftp,
                                                   publish::Protocol::FtpExplicit,
                                                   publish::Protocol::FtpImplicit};
            t.protocol = kFtps[ftpSecurity_->currentIndex()];
            if (U8(ftpHost_).empty()) return missing("主机");
            t.host = U8(ftpHost_);
            t.port = ftpPort_->value();
            t.user = U8(ftpUser_);
            t.path = U8(ftpFolder_);
            break;
        }
        case kDav: {
            const std::string address = U8(davUrl_);
            if (address.empty()) return missing("地址");
            const bool https = address.starts_with("https://");
            if (!https && !address.starts_with("http://")) {
                error = "WebDAV 的地址以 http:// 或 https:// 开头。"_gbk;
                return std::nullopt;
            }
            std::string why;
            const std::optional<publish::Target> parsed = publish::ParseTargetUrl(
                (https ? "davs" : "dav") + address.substr(address.find("://")), why);
            if (!parsed) {
                error = PublishWords(why) + "。"_gbk;
                return std::nullopt;
            }
            t = *parsed;
            t.user = U8(davUser_);
            break;
        }
    }
    t.publicAddress = U8(public_);
    // The path as the user types it, a folder ("/"-ended).
    if (!t.path.empty() && t.path.back() != '/') t.path += '/';
    const std::string name = U8(name_);
    const std::string defaultName = t.protocol == publish::Protocol::S3 ? t.bucket : t.host;
    std::string url = publish::TargetUrl(t, name == defaultName ? std::string() : name);
    std::string why;
    if (!publish::ResolveTarget({url}, url, why)) {
        error = PublishWords(why) + "。"_gbk;
        return std::nullopt;
    }
    return url;
}

std::string TargetForm::Secret() const {
    switch (kind_->currentIndex()) {
        case kS3:
            return s3Secret_->text().toStdString();
        case kFtp:
            return ftpPassword_->text().toStdString();
        case kDav:
            return davPassword_->text().toStdString();
        default:
            return {};
    }
}

}  // namespace zembrat::ui
