// Where the query window keeps its layouts between runs: the user's configuration (QSettings of the
// application), one group per operator, so that operators sharing a desk keep their own.
#pragma once

#include <string>

// The operator the host logged in (the application's "orvoOperator" property), "default" without one.
std::string CurrentOperatorName();

class CWindowLayoutStore {
public:
    explicit CWindowLayoutStore(const std::string& operatorName);
    std::string Read(const std::string& key) const; // "" when never written
    void Write(const std::string& key, const std::string& value);

private:
    std::string m_group;
};
