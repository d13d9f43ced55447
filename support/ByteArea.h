#pragma once

#include <cstdint>

// Byte areas that travel between parts of the program (definition text, readme
// text, whole files) come from one allocator, so whoever holds an area last can
// release it: the system's local heap on Windows, the C heap natively.
// AllocArea returns null when the memory cannot be had; an area of size 0 is a
// valid, non-null area. FreeArea accepts null.
void* AllocArea(uint32_t size);
void FreeArea(void* area);

// A byte area and its length, owned: freed once, by whoever holds it last.
// Moves hand it on; Release gives it up to a call that takes areas over.
class CByteArea {
public:
    CByteArea() : m_bytes(nullptr), m_length(0) {}
    // Takes bytes (from AllocArea, or null) over.
    CByteArea(char* bytes, uint32_t length) : m_bytes(bytes), m_length(bytes ? length : 0) {}
    CByteArea(CByteArea&& other) noexcept : m_bytes(other.m_bytes), m_length(other.m_length)
    {
        other.m_bytes = nullptr;
        other.m_length = 0;
    }
    CByteArea& operator=(CByteArea&& other) noexcept
    {
        if (this != &other) {
            FreeArea(m_bytes);
            m_bytes = other.m_bytes;
            m_length = other.m_length;
            other.m_bytes = nullptr;
            other.m_length = 0;
        }
        return *this;
    }
    CByteArea(const CByteArea&) = delete;
    CByteArea& operator=(const CByteArea&) = delete;
    ~CByteArea() { FreeArea(m_bytes); }

    char* Bytes() const { return m_bytes; }
    uint32_t Length() const { return m_length; }
    bool IsEmpty() const { return m_bytes == nullptr || m_length == 0; }
    char* Release()
    {
        char* bytes = m_bytes;
        m_bytes = nullptr;
        m_length = 0;
        return bytes;
    }

private:
    char* m_bytes;
    uint32_t m_length;
};
