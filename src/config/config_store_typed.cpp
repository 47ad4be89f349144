// The store's typed values: each kept as its text form (config/value_forms.h) in the current
// section of the settings file (or in the registry, config_store_registry.cpp).
#include "config/config_store.h"
#include "config/value_forms.h"
#include "text/codec.h"

namespace zembrat::config {

WriteResult ConfigStore::WriteStored(std::string_view key, std::string_view stored) {
    if (kind_ == RegistryBackend) {
        return WriteRegistryStored(key, stored) ? WriteResult::kWritten : WriteResult::kFailed;
    }
    bool reached = false;
    const StoreResult result =
        Enqueue({PendingKind::kSetValue, {currentSection_, std::string(key), std::string(stored)}},
                &reached);
    if (result == StoreResult::kQueued) return WriteResult::kQueued;
    return result == StoreResult::kDone && reached ? WriteResult::kWritten : WriteResult::kFailed;
}

std::string ConfigStore::ReadStored(std::string_view key, std::string_view storedDefault) {
    if (kind_ == RegistryBackend) return ReadRegistryStored(key, storedDefault);
    return GetValue(currentSection_, key, storedDefault, true);
}

WriteResult ConfigStore::WriteText(std::string_view key, std::string_view value) {
    return WriteStored(key, TextToStored(text::TextOf(value)));
}

std::string ConfigStore::ReadText(std::string_view key, std::string_view defaultValue) {
    return TextFromStored(ReadStored(key, TextToStored(defaultValue)));
}

WriteResult ConfigStore::WriteNumber(std::string_view key, double value) {
    return WriteStored(key, NumberToStored(value));
}

double ConfigStore::ReadNumber(std::string_view key, double defaultValue) {
    return NumberFromStored(ReadStored(key, NumberToStored(defaultValue)));
}

WriteResult ConfigStore::WriteBool(std::string_view key, bool value) {
    return WriteStored(key, BoolToStored(value));
}

bool ConfigStore::ReadBool(std::string_view key, bool defaultValue) {
    return ReadStored(key, BoolToStored(defaultValue)) == TrueText();
}

bool ConfigStore::ReadBoolUnlessFalse(std::string_view key, bool defaultValue) {
    return ReadStored(key, BoolToStored(defaultValue)) != FalseText();
}

WriteResult ConfigStore::WriteDateTime(std::string_view key, const platform::DateTime& value) {
    return WriteStored(key, DateTimeToStored(value));
}

platform::DateTime ConfigStore::ReadDateTime(std::string_view key,
                                             const platform::DateTime& defaultValue) {
    return DateTimeFromStored(ReadStored(key, DateTimeToStored(defaultValue)));
}

}  // namespace zembrat::config
