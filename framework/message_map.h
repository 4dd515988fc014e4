// Message maps: a flat table per class binding messages to member handlers.
//
// An entry names a message (or a range of them, for WM_CTLCOLOR*), or a
// WM_COMMAND notification code from one control id, and a small function that
// unpacks the message's parameters and calls the member. Dispatch is one loop
// over the table; what no entry takes falls through to the default handling.
#pragma once

#include <windows.h>

#include <cstddef>

class CCmdTarget;

using MessageInvoker = LRESULT (*)(CCmdTarget* target, UINT message, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry {
    UINT firstMessage;
    UINT lastMessage;
    UINT id;    // WM_COMMAND only: the control or command id
    UINT code;  // WM_COMMAND only: the notification code
    MessageInvoker invoke;
};

struct MessageMap {
    const MessageMapEntry* entries;
    size_t count;
};

// Anything with a message map: windows and the application.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // The class's own table; a class without one has none.
    virtual MessageMap GetMessageMap() const { return MessageMap{nullptr, 0}; }
    // Calls the handler the map names for the message. Returns false when none does.
    bool DispatchMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
};

namespace message_map_detail {
template <class>
struct MemberOf;
template <class T, class R, class... Args>
struct MemberOf<R (T::*)(Args...)> {
    using Class = T;
};
template <auto Handler>
using ClassOf = typename MemberOf<decltype(Handler)>::Class;
}  // namespace message_map_detail

// void OnPaint()
template <auto Handler>
constexpr MessageMapEntry MapPaint()
{
    return {WM_PAINT, WM_PAINT, 0, 0, [](CCmdTarget* t, UINT, WPARAM, LPARAM) -> LRESULT {
                (static_cast<message_map_detail::ClassOf<Handler>*>(t)->*Handler)();
                return 0;
            }};
}

// void OnSysCommand(UINT nID, LPARAM lParam)
template <auto Handler>
constexpr MessageMapEntry MapSysCommand()
{
    return {WM_SYSCOMMAND, WM_SYSCOMMAND, 0, 0, [](CCmdTarget* t, UINT, WPARAM w, LPARAM l) -> LRESULT {
                (static_cast<message_map_detail::ClassOf<Handler>*>(t)->*Handler)(static_cast<UINT>(w), l);
                return 0;
            }};
}

// HCURSOR OnQueryDragIcon()
template <auto Handler>
constexpr MessageMapEntry MapQueryDragIcon()
{
    return {WM_QUERYDRAGICON, WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* t, UINT, WPARAM, LPARAM) -> LRESULT {
                return reinterpret_cast<LRESULT>((static_cast<message_map_detail::ClassOf<Handler>*>(t)->*Handler)());
            }};
}

// void OnClicked(): BN_CLICKED from control Id (also a menu or accelerator command Id).
template <UINT Id, auto Handler>
constexpr MessageMapEntry MapClicked()
{
    return {WM_COMMAND, WM_COMMAND, Id, BN_CLICKED, [](CCmdTarget* t, UINT, WPARAM, LPARAM) -> LRESULT {
                (static_cast<message_map_detail::ClassOf<Handler>*>(t)->*Handler)();
                return 0;
            }};
}

// void OnClicked(int id): BN_CLICKED from control Id, handed Id, so that
// buttons doing one thing for different ids share one handler.
template <UINT Id, auto Handler>
constexpr MessageMapEntry MapClickedId()
{
    return {WM_COMMAND, WM_COMMAND, Id, BN_CLICKED, [](CCmdTarget* t, UINT, WPARAM, LPARAM) -> LRESULT {
                (static_cast<message_map_detail::ClassOf<Handler>*>(t)->*Handler)(static_cast<int>(Id));
                return 0;
            }};
}

// void OnCommand(): a menu or accelerator command Id.
template <UINT Id, auto Handler>
constexpr MessageMapEntry MapCommand()
{
    return MapClicked<Id, Handler>();
}

// Defines Class::GetMessageMap over a table written as Class's message map.
#define DEFINE_MESSAGE_MAP(Class, ...)                                          \
    MessageMap Class::GetMessageMap() const                                     \
    {                                                                           \
        static const MessageMapEntry entries[] = {__VA_ARGS__};                 \
        return MessageMap{entries, sizeof entries / sizeof entries[0]};         \
    }
