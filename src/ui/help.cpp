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
        QStringLiteral(
            "（3）您再把图片存放目录上传到网站的根目录（也可以在“扩展选项”→“发布到网站...”中设好"
            "目标，由软件自动上传，见下面的【发布到网站】）；"),
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
        QString(),
        QStringLiteral("【扩展选项】"),
        QStringLiteral(
            "点击窗口上方的“扩展选项”打开。选项默认全部关闭，全部关闭时软件和以前完全一样。"
            "选项保存在 Zembrat.ini 的“[扩展选项]”一节中，命令行运行（zembrat --run）"
            "读同一个文件，所以在窗口里勾选的选项（例如“增量运行”、“运行后写出报告”）"
            "也会用于以后的命令行运行。"),
        QString(),
        QStringLiteral("【结果目录】"),
        QStringLiteral(
            "转存的文章和图片默认写到文章目录下的“转存结果”目录；在扩展选项的“结果目录”中"
            "可以改为另一个绝对路径，例如网站的 public 目录。原来的文章从不改动。"),
        QString(),
        QStringLiteral("【包含子目录】"),
        QStringLiteral(
            "勾选后也处理文章目录下各个子目录里的文章（整棵目录树）：每篇文章的结果保持它的"
            "相对位置，图片仍放在同一个图片存放目录，状态栏和运行结果用相对路径表示文章。"),
        QString(),
        QStringLiteral("【增量运行】"),
        QStringLiteral(
            "勾选后（或运行后发布、已有运行记录时）在结果目录里保存运行记录。只处理新的内容："
            "已转存的图片不再下载，内容和设置都没变的文章跳过，停止后再次运行从中断处继续。"),
        QString(),
        QStringLiteral("【发布到网站】"),
        QStringLiteral(
            "在“扩展选项”→“发布到网站...”中保存发布目标（SFTP、FTP/FTPS、WebDAV 或 S3），"
            "勾选“运行后发布”后每次运行结束先上传图片（可选同时上传文章）再询问；"
            "已上传且内容相同的文件不再上传，网站上同名不同内容的文件绝不覆盖。"
            "每个目标用它那一类的表单填写，密码和密钥保存在系统钥匙串里，不写进 Zembrat.ini；"
            "“测试连接”检查能否登录，“检查公开副本”核对网站上的图片。"),
        QString(),
        QStringLiteral("【清理未使用的图片】"),
        QStringLiteral(
            "在“扩展选项”→“清理未使用的图片…”中先列出图片存放目录里没有任何文章使用的图片，"
            "确认后再把它们移到结果目录的回收站“.zembrat-trash/日期-时间/”（保持原来的目录结构），"
            "随时可以“恢复上次清理”；“清空回收站”只删除早于指定天数（默认 30 天）的回收站。"),
        QStringLiteral(
            "为了安全：运行记录里任何一篇文章用到的图片、文章目录中任何一篇文章（按当前选项重新读出"
            "，"
            "包括开头的 front matter）引用的图片都不会移动，只移动软件自己按内容命名保存的文件；"
            "没有运行记录、记录无法读取或文章在上次运行之后改过时不清理并说明原因；"
            "一次超过 256 个或超过图片总数一半时不移动，除非勾选“超过上限也移动”。"
            "恢复时如果同名文件已经换成别的内容，这个文件留在回收站，绝不覆盖。"),
        QString(),
        QStringLiteral("【查看运行结果】"),
        QStringLiteral(
            "运行开始后点击窗口右上方的“查看运行结果”，可以看到每张图片的文章、地址、结果和"
            "原因（运行中也可以打开，上方显示进度和预计剩余时间）；“重试失败的图片”只重新"
            "下载失败的图片并写入同一个结果目录，“打开报告”、“打开文章”打开所选的内容。"),
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
