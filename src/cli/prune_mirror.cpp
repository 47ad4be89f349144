#include "cli/prune_mirror.h"

#include <optional>
#include <utility>

#include "publish/result_items.h"
#include "publish/target_trash.h"
#include "record/run_record.h"
#include "text/codec.h"

namespace zembrat::cli {
namespace {

job::TrashStepEnd EndOf(publish::TrashOutcome outcome) {
    switch (outcome) {
        case publish::TrashOutcome::Done:
            return job::TrashStepEnd::Done;
        case publish::TrashOutcome::Skipped:
            return job::TrashStepEnd::Skipped;
        case publish::TrashOutcome::Refused:
            return job::TrashStepEnd::Refused;
        case publish::TrashOutcome::Failed:
            return job::TrashStepEnd::Failed;
    }
    return job::TrashStepEnd::Failed;
}

// The target's trash, with the result folder's record (its manifest) open as long as it lives.
class PruneMirror final : public job::TrashMirror {
  public:
    // Opens the record and logs in; false with error (UTF-8) otherwise.
    bool Open(const publish::ResultPublishRequest& request, std::string& error) {
        publish::ResultPublish opened;
        if (!publish::OpenResult(request, record_, opened)) {
            error = opened.end == publish::ResultPublishEnd::NoTarget ? opened.message
                                                                      : opened.recordMessage;
            return false;
        }
        const publish::Target& target = *opened.target;
        publish::Credentials credentials = request.credentials;
        std::unique_ptr<publish::Transport> transport = publish::MakeTransport(target, credentials);
        if (!transport->Connect(error)) {
            // An SFTP host met for the first time: asked once whether to trust its key.
            if (!transport->HostKeyUnknown() || credentials.acceptNewHostKey ||
                !request.trustNewHostKey || !request.trustNewHostKey(transport->UnknownHostKey()))
                return false;
            credentials.acceptNewHostKey = true;
            transport = publish::MakeTransport(target, credentials);
            if (!transport->Connect(error)) return false;
        }
        trash_.emplace(target, std::move(transport), manifest_);
        return true;
    }

    std::string Name() const override { return publish::Redacted(trash_->target().name); }

    std::vector<job::TrashStep> SetAside(const std::string& stamp,
                                         const std::vector<job::TrashFile>& files,
                                         std::stop_token stop) override {
        return Steps(files, trash_->SetAside(stamp, Trashed(files), std::move(stop)));
    }

    std::vector<job::TrashStep> Restore(const std::string& stamp,
                                        const std::vector<job::TrashFile>& files,
                                        std::stop_token stop) override {
        return Steps(files, trash_->Restore(stamp, Trashed(files), std::move(stop)));
    }

    std::vector<std::string> Stamps(std::string& error) override {
        return trash_->Stamps(error).value_or(std::vector<std::string>{});
    }

    std::vector<job::TrashStep> Empty(const std::string& stamp, std::stop_token stop) override {
        std::vector<job::TrashStep> steps;
        for (const publish::TrashRow& row : trash_->Empty(stamp, std::move(stop)))
            steps.push_back({text::GbkFromUtf8(row.remotePath), EndOf(row.outcome), row.reason});
        return steps;
    }

  private:
    // A recorded path (below the result folder, GBK) is published under its remote path.
    static std::vector<publish::TrashedFile> Trashed(const std::vector<job::TrashFile>& files) {
        std::vector<publish::TrashedFile> trashed;
        trashed.reserve(files.size());
        for (const job::TrashFile& file : files)
            trashed.push_back({publish::RemotePathOf(file.path), file.localFile});
        return trashed;
    }

    static std::vector<job::TrashStep> Steps(const std::vector<job::TrashFile>& files,
                                             const std::vector<publish::TrashRow>& rows) {
        std::vector<job::TrashStep> steps;
        steps.reserve(rows.size());
        for (std::size_t i = 0; i < rows.size() && i < files.size(); ++i)
            steps.push_back({files[i].path, EndOf(rows[i].outcome), rows[i].reason});
        return steps;
    }

    record::RunRecord record_;
    publish::RecordManifest manifest_{record_};
    std::optional<publish::TargetTrash> trash_;
};

}  // namespace

std::unique_ptr<job::TrashMirror> OpenPruneMirror(const publish::ResultPublishRequest& request,
                                                  std::string& error) {
    auto mirror = std::make_unique<PruneMirror>();
    if (!mirror->Open(request, error)) return nullptr;
    return mirror;
}

}  // namespace zembrat::cli
