#pragma once

#include <QString>

// A failed daemon request. The client's own failures and the JSON parser's
// refusals both travel as this type; what users see is `description()`.
struct IPCError {
    QString message;

    QString description() const { return message; }
    bool operator==(const IPCError &) const = default;
};
