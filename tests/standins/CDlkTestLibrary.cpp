#include "tests/standins/CDlkTestLibrary.h"

#include "tests/standins/DlkTestFiles.h"

namespace {

template <typename Pointer>
void Resolve(HMODULE module, const char* name, Pointer& pointer)
{
    pointer = module == nullptr ? nullptr
                                : reinterpret_cast<Pointer>(
                                      reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

CDlkTestLibrary::CDlkTestLibrary() : m_path(BesideTest(DLK_DLL_NAME))
{
    m_module = LoadLibraryW(m_path.c_str());
    Resolve(m_module, DLK_EXPORT_INIT_STD_DOWNLOAD, init);
    Resolve(m_module, DLK_EXPORT_EXIT_STD_DOWNLOAD, exit);
    Resolve(m_module, DLK_EXPORT_SET_STD_PARAMETER, setParameter);
    Resolve(m_module, DLK_EXPORT_STD_DOWNLOAD, download);
    Resolve(m_module, DLK_EXPORT_STD_DOWNLOAD2, download2);
    Resolve(m_module, DLK_EXPORT_STD_GET_SECTION_INTEGRITY, integrity);
    Resolve(m_module, DLK_EXPORT_STD_GET_SECTION_INTEGRITY2, integrity2);
}

CDlkTestLibrary::~CDlkTestLibrary()
{
    if (m_module != nullptr) FreeLibrary(m_module);
}
