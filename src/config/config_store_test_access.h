// Test support only: the inner state of a ConfigStore, for the store's tests and its fuzz target.
// The program never includes this header.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "config/config_store.h"

namespace zembrat::config {

struct ConfigStoreTestAccess {
    // The content mirror, byte for byte (GetContent stops at a zero byte).
    static const std::string& ContentBytes(const ConfigStore& store) { return store.mirror_; }
    static bool HasFileHandle(const ConfigStore& store) { return store.file_ != nullptr; }
    static bool Busy(const ConfigStore& store) { return store.busy_; }
    static const std::deque<PendingOp>& PendingQueue(const ConfigStore& store) {
        return store.pending_;
    }
    static const std::string& CurrentSection(const ConfigStore& store) {
        return store.currentSection_;
    }
    static const std::string& RegistryPath(const ConfigStore& store) { return store.registryPath_; }
    static BackendKind Backend(const ConfigStore& store) { return store.kind_; }
    static std::string BinaryValueFile(const ConfigStore& store, std::string_view key) {
        return store.BinaryValueFile(key);
    }
};

}  // namespace zembrat::config
