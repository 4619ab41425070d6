// A device in front of another that hands every call on to it: the base of
// devices that change a few calls and pass on the rest.

#ifndef RAVEL_FORWARD_DEVICE_H
#define RAVEL_FORWARD_DEVICE_H

extern "C" {
#include <mupdf/fitz.h>
}

namespace ravel {

// A device built on this one starts with it, as its first member.
struct ForwardDevice {
    fz_device super;
    fz_device *target;
};

inline fz_device *Target(fz_device *dev) { return reinterpret_cast<ForwardDevice *>(dev)->target; }

// Every call of `dev` handed on to `target`; the caller then puts its own
// in place of those it changes.
void ForwardAll(ForwardDevice *dev, fz_device *target);

}  // namespace ravel

#endif
