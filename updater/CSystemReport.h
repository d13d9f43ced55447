#pragma once

#include <cstdint>

// Probe of the machine that every update task owns: the OS class, settled once
// when the object is built. Owns no resources.
class CSystemReport {
public:
    CSystemReport();
    ~CSystemReport();

    int32_t GetOsClass() const;

    int32_t m_osClass;
};
