#ifndef VERSIONINFO_CVFXPOINTER_H
#define VERSIONINFO_CVFXPOINTER_H

#include <cstddef>

// Owner of one heap buffer from std::malloc, freed on every way out of the
// scope that holds it when m_bOwns is set. Not copyable: one owner only.
class CVFXPointer {
public:
    explicit CVFXPointer(void* pointer = nullptr, bool owns = true)
        : m_pData(pointer)
        , m_bOwns(owns)
    {
    }
    virtual ~CVFXPointer();
    CVFXPointer(const CVFXPointer&) = delete;
    CVFXPointer& operator=(const CVFXPointer&) = delete;

    // Frees the buffer held now (if owned), then holds pointer.
    void Reset(void* pointer);
    void* Get() const { return m_pData; }
    bool IsNull() const { return m_pData == nullptr; }

    void* m_pData;
    bool m_bOwns;
};

#endif // VERSIONINFO_CVFXPOINTER_H
