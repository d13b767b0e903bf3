#include "versioninfo/cvfxpointer.h"

#include <cstdlib>

CVFXPointer::~CVFXPointer()
{
    Reset(nullptr);
}

void CVFXPointer::Reset(void* pointer)
{
    if (m_bOwns && m_pData != nullptr && m_pData != pointer)
        std::free(m_pData);
    m_pData = pointer;
}
