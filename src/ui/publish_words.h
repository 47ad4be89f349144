// The window's words for a publish, in one place: what became of a file, why a login or an
// upload failed, a refused target, the host-key question, what a test of a target and a check of
// the public copies found. The transports speak English (the console prints it as it is); the
// window shows these Chinese words instead. Every text is GBK.
#pragma once

#include <string>

#include "publish/public_copies.h"
#include "publish/publish_run.h"

namespace zembrat::ui {

// The row caption of a settled file: "已上传", "此前已发布", "网站上已有", "冲突，未覆盖",
// "上传失败", "已停止" (a dry run's "将上传").
std::string PublishRowText(publish::PublishOutcome outcome);

// Why, in Chinese, for a message of a transport, the publish or a target's address (UTF-8,
// English): the kind of failure it tells, with the file or command it names where that helps.
std::string PublishWords(const std::string& message);

// The question put when an SFTP host's key is not known yet, naming its fingerprint and what
// trusting it does.
std::string NewHostKeyQuestion(const std::string& fingerprint);

// A checked public copy's outcome: "相同", "缺失", "内容不同", "不是图片", "无法访问".
std::string CopyOutcomeWords(publish::CopyOutcome outcome);
// Why a checked public copy is not the same, in Chinese (the answer's status, the type it is
// served as, the bytes against the name); empty for a copy that is.
std::string CopyWhyWords(const publish::CopyCheck& copy);

}  // namespace zembrat::ui
