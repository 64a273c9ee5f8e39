#pragma once
// The one register data store of the process. Its owner (the main window, the command-line
// tool, a test) installs it; settings read and write their values through it.
class TRegisterDataStore;

// The installed store, or null when none is installed.
TRegisterDataStore* RegisterDataStore();
// Installs `store` (null uninstalls); returns the store installed before.
TRegisterDataStore* SetRegisterDataStore(TRegisterDataStore* store);
// The installed store; raises std::logic_error when there is none.
TRegisterDataStore& RequireRegisterDataStore();
