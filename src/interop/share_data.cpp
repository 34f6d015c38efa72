// CShareData: a named shared-memory block held through the platform's shm service.
#include "interop/interop.h"
#include "log/log.h"
#include "platform/error.h"
#include "platform/shm.h"

#include <cstring>

namespace {

platform::ShmObject* toObject(HANDLE h) { return static_cast<platform::ShmObject*>(h); }

}  // namespace

CShareData::CShareData() : m_hMapFile(nullptr), m_pData(nullptr), m_nSize(0) {}

CShareData::~CShareData() { closeSharedFile(); }

bool CShareData::createSharedFile(const std::u16string& name, unsigned int size) {
    if (m_hMapFile)
        return false;
    if (name.empty())
        return false;
    platform::ShmObject* object = platform::shmCreate(name, size);
    if (!object)
        return false;
    m_hMapFile = object;
    m_nSize = size;
    m_pData = static_cast<unsigned char*>(platform::shmMap(object, size));
    if (!m_pData) {
        TRK::TRKLogger::Instance()->LogError(
            u"CShareData::createSharedFile MapViewOfFile() fail. fileName=%s, size=%d, err=%d",
            name.c_str(), size, platform::lastError().code);
        return false;
    }
    return true;
}

bool CShareData::openSharedFile(const std::u16string& name, unsigned int size) {
    if (m_hMapFile)
        return true;
    if (name.empty())
        return false;
    platform::ShmObject* object = platform::shmOpen(name);
    if (!object)
        return false;
    m_hMapFile = object;
    m_nSize = size;
    m_pData = static_cast<unsigned char*>(platform::shmMap(object, size));
    return m_pData != nullptr;
}

void CShareData::closeSharedFile() {
    if (!m_hMapFile)
        return;
    platform::shmUnmap(m_pData);
    platform::shmClose(toObject(m_hMapFile));
    m_hMapFile = nullptr;
    m_pData = nullptr;
    m_nSize = 0;
}

unsigned int CShareData::getSharedData(unsigned char* buffer, unsigned int length) {
    if (!m_pData || length > m_nSize)
        return 0;
    if (length)
        std::memcpy(buffer, m_pData, length);
    return length;
}

unsigned char* CShareData::getSharedData() { return m_pData; }

unsigned int CShareData::writeData(const unsigned char* data, unsigned int length) {
    if (!m_pData || length > m_nSize)
        return 0;
    if (length)
        std::memcpy(m_pData, data, length);
    return length;
}
