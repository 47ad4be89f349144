#include "ui/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace zembrat::ui {

QString HelpText() {
    const QStringList lines = {
        QStringLiteral("-----------------软件介绍-----------------"),
        QStringLiteral("本软件把文章中引用的网络图片转存到您自己的网站上，并把文章中找到的图片地址"
                       "替换为您自己网站的图片地址。"),
        QString(),
        QStringLiteral("软件的执行过程："),
        QStringLiteral("（1）找出文章中引用的网络图片地址，把图片下载到指定的本地目录中；"),
        QStringLiteral(
            "（2）把这些地址替换为相对于图片存放目录的地址，或者替换为您网站上的绝对地址；"),
        QStringLiteral("（3）您再把图片存放目录上传到网站的根目录；"),
        QStringLiteral("（4）发布文章后，文章中的图片就全部由您自己的网站提供了。"),
        QString(),
        QStringLiteral("-----------------疑点说明-----------------"),
        QStringLiteral("图文教程：请打开程序目录中的帮助文件 "
                       "zembrat-help.html（点击窗口上方的“软件主页”即可，无需联网）。"),
        QString(),
        QStringLiteral("【图片存放目录】"),
        QStringLiteral("要把图片存放在网站根目录的“img”文件夹中，请填写“img”；要存放在根目录“files”"
                       "文件夹里的“img”文件夹中，请填写“files/img”。"),
        QString(),
        QStringLiteral("【旧的域名前缀】"),
        QStringLiteral(
            "有些图片地址是相对地址，例如“/"
            "123.jpg”，只有给出来源网站的域名前缀才能下载，例如这些文章所采集的网站的域名。"),
        QStringLiteral("如果这里为空而文章中出现了相对地址，这个地址既不下载也不转换。"),
        QString(),
        QStringLiteral("【新的域名前缀】"),
        QStringLiteral("图片保存后（例如保存在“files/img”中），“/123.jpg”这样的地址会替换为“/files/"
                       "img/123.jpg”；"),
        QStringLiteral(
            "如果填写了新的域名前缀，就会替换为“http://”加上这个域名再加上“/files/img/123.jpg”。"),
        QString(),
        QStringLiteral("【排除地址范围】"),
        QStringLiteral("不想转换的图片地址可以用地址范围跳过：填写一个域名就跳过这个域名的所有图片"
                       "；多个范围之间用“|”分隔；"),
        QStringLiteral("域名后面再加路径，只跳过那个目录；通配符“*"
                       "”代表任意多个任意字符；没有要排除的地址时请留空。"),
    };
    return lines.join(QStringLiteral("\r\n"));
}

QString HelpFilePath() {
    const QString name = QStringLiteral("zembrat-help.html");
    const QDir program(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {program.filePath(name), program.filePath(QStringLiteral("../share/zembrat/") + name),
          program.filePath(QStringLiteral("../share/doc/zembrat/") + name)}) {
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
    }
    return QString();
}

}  // namespace zembrat::ui
