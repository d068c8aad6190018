// The system's text for an errno value ("No such file or directory"), for messages and
// traces. Safe on any thread, unlike strerror.
#pragma once

#include <QString>

#include <system_error>

inline QString ErrorText(int Code) {
    return QString::fromStdString(std::generic_category().message(Code));
}
