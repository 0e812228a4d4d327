#pragma once

#include <QtGlobal>

// Kinds of message: which buttons show, and for even kinds the "Stop Showing Just This Message"
// box. Answers are the platform's usual values, so callers compare against one set.
namespace MessageKind {
constexpr qint16 Ok = 1;
constexpr qint16 OkSwitchable = 2;
constexpr qint16 YesNo = 3;
constexpr qint16 YesNoSwitchable = 4;
constexpr qint16 YesCancelNo = 5;
constexpr qint16 YesCancelNoSwitchable = 6;
constexpr qint16 OkCancel = 7;
constexpr qint16 OkCancelSwitchable = 8;

constexpr bool isValid(qint16 kind)
{
    return kind >= Ok && kind <= OkCancelSwitchable;
}
constexpr bool isSwitchable(qint16 kind)
{
    return isValid(kind) && kind % 2 == 0;
}
} // namespace MessageKind

namespace MessageAnswer {
constexpr qint16 None = 0;
constexpr qint16 Ok = 1;
constexpr qint16 Cancel = 2;
constexpr qint16 Yes = 6;
constexpr qint16 No = 7;
} // namespace MessageAnswer
