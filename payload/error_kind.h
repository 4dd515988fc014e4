// What kind of fault an error is. Every error list (the payload's in
// archive.h, the packer's in tools/pack/pack_error.h) gives each error one,
// and whoever reports an error reads it: the tool's exit status (refused and
// damage 1, system 2) and the words around the message.
#pragma once

enum class ErrorKind {
    None,     // no fault
    Refused,  // the input is not acceptable as it is: a name, a stub, a picture, an argument
    Damage,   // the file is damaged or cut short: a new copy of it cures that
    System,   // the system could not do it: a call failed, memory, a path too long, an interruption
};
