// ConfigStore: see config_store.h
