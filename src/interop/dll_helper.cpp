// CDLLHelper: one module reference held through the platform's dl service.
#include "interop/interop.h"
#include "platform/dl.h"

#include <cstdint>

namespace {

platform::Module* toModule(HMODULE h) { return reinterpret_cast<platform::Module*>(h); }
HMODULE toHandle(platform::Module* m) { return reinterpret_cast<HMODULE>(m); }

}  // namespace

CDLLHelper::CDLLHelper() : m_hDll(nullptr) {}

CDLLHelper::CDLLHelper(const CDLLHelper& other)
    : m_hDll(toHandle(platform::dlAddRef(toModule(other.m_hDll)))) {}

CDLLHelper& CDLLHelper::operator=(const CDLLHelper& other) {
    if (this != &other && m_hDll != other.m_hDll) {
        FreeDll();
        m_hDll = toHandle(platform::dlAddRef(toModule(other.m_hDll)));
    }
    return *this;
}

CDLLHelper::~CDLLHelper() { FreeDll(); }

bool CDLLHelper::LoadDll(const std::u16string& path) {
    FreeDll();
    m_hDll = toHandle(platform::dlLoad(path));
    return m_hDll != nullptr;
}

bool CDLLHelper::LoadDllEx(const std::u16string& path, unsigned int flags) {
    FreeDll();
    m_hDll = toHandle(platform::dlLoadEx(path, flags));
    return m_hDll != nullptr;
}

bool CDLLHelper::FindDll(const std::u16string& name) {
    if (m_hDll)
        return true;
    m_hDll = toHandle(platform::dlFind(name));
    return m_hDll != nullptr;
}

void CDLLHelper::FreeDll() {
    if (!m_hDll)
        return;
    platform::dlFree(toModule(m_hDll));
    m_hDll = nullptr;
}

bool CDLLHelper::IsValidDll() const { return m_hDll != nullptr; }

NxProcAddress CDLLHelper::GetProcAddress(const char* name) const {
    if (!m_hDll)
        return nullptr;
    return reinterpret_cast<NxProcAddress>(platform::dlSymbol(toModule(m_hDll), name));
}

HMODULE CDLLHelper::get_DllHandle() const { return m_hDll; }

CDLLHelper::operator HMODULE() const { return m_hDll; }

unsigned int CDLLHelper::get_DllInt() const {
    return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(m_hDll));
}
