#pragma once

// Base of the classes that own a handle, a window, a thread or an area: a
// copy would release it twice. Inherited privately; it adds nothing to a
// record's layout.
class NoCopy {
protected:
    NoCopy() = default;
    ~NoCopy() = default;

public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};
