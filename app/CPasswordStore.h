// Camera passwords: kept for the run in memory, and on request in the
// desktop's credential store (Secret Service, the Windows Credential Manager)
// through QtKeychain. Never in a file of ours.
#pragma once

#include <QString>
#include <map>
#include <string>

namespace strevo {

class CPasswordStore {
  public:
    // Whether the desktop's store answers; asked once, within a short limit.
    bool StoreAvailable();
    // For the run; remember: also in the desktop's store (false when it failed).
    bool Put(const std::string& key, const std::string& password, bool remember);
    // From memory, else from the desktop's store; empty when none.
    std::string Get(const std::string& key);
    // From memory and the desktop's store.
    void Forget(const std::string& key);
    ~CPasswordStore();

  private:
    std::map<std::string, std::string> m_run;
    int m_available = -1;  // not asked yet
};

}  // namespace strevo
