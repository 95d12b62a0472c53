// The released executable, inspected the way Windows sees it.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "installer/catalogue.h"
#include "support.h"
#include "version.h"

namespace {

const std::wstring& ReleasePath() {
  static const std::wstring path = TestPath("ORVEX_TEST_RELEASE");
  return path;
}

// Reads a structure at a file offset of the image, failing the test when it lies outside.
template <typename T>
T At(const std::string& image, size_t offset) {
  T value{};
  if (offset + sizeof(T) > image.size()) throw std::runtime_error("image truncated");
  memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

class PeImage {
 public:
  PeImage() : bytes_(ReadBytes(ReleasePath())) {
    const auto dos = At<IMAGE_DOS_HEADER>(bytes_, 0);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) throw std::runtime_error("not an MZ image");
    nt_offset_ = static_cast<size_t>(dos.e_lfanew);
    nt_ = At<IMAGE_NT_HEADERS32>(bytes_, nt_offset_);
    const size_t sections = nt_offset_ + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                            nt_.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt_.FileHeader.NumberOfSections; ++i)
      sections_.push_back(
          At<IMAGE_SECTION_HEADER>(bytes_, sections + i * sizeof(IMAGE_SECTION_HEADER)));
  }

  const IMAGE_NT_HEADERS32& nt() const { return nt_; }
  const IMAGE_DATA_DIRECTORY& directory(int index) const {
    return nt_.OptionalHeader.DataDirectory[index];
  }

  size_t OffsetOf(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& section : sections_) {
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
        return rva - section.VirtualAddress + section.PointerToRawData;
    }
    throw std::runtime_error("address outside every section");
  }
  std::string StringAt(DWORD rva) const { return bytes_.c_str() + OffsetOf(rva); }
  template <typename T>
  T AtAddress(DWORD rva) const {
    return At<T>(bytes_, OffsetOf(rva));
  }

  // DLL name -> names of the functions imported from it.
  std::map<std::string, std::set<std::string>> Imports() const {
    std::map<std::string, std::set<std::string>> imports;
    size_t offset = OffsetOf(directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    for (;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const auto descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(bytes_, offset);
      if (descriptor.Name == 0) break;
      std::set<std::string>& functions = imports[StringAt(descriptor.Name)];
      size_t thunk = OffsetOf(descriptor.OriginalFirstThunk ? descriptor.OriginalFirstThunk
                                                            : descriptor.FirstThunk);
      for (;; thunk += sizeof(DWORD)) {
        const DWORD entry = At<DWORD>(bytes_, thunk);
        if (entry == 0) break;
        if ((entry & IMAGE_ORDINAL_FLAG32) == 0) functions.insert(StringAt(entry + 2));
      }
    }
    return imports;
  }

 private:
  std::string bytes_;
  size_t nt_offset_ = 0;
  IMAGE_NT_HEADERS32 nt_{};
  std::vector<IMAGE_SECTION_HEADER> sections_;
};

TEST(ReleaseImage, IsA32BitConsoleProgramWithTheSecurityFlags) {
  const PeImage image;
  const IMAGE_NT_HEADERS32& nt = image.nt();
  EXPECT_EQ(nt.Signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  EXPECT_EQ(nt.OptionalHeader.MajorOperatingSystemVersion, 6);
  EXPECT_EQ(nt.OptionalHeader.MinorOperatingSystemVersion, 0);
  EXPECT_EQ(nt.OptionalHeader.MajorSubsystemVersion, 6);
  EXPECT_EQ(nt.OptionalHeader.MinorSubsystemVersion, 0);
  const WORD flags = nt.OptionalHeader.DllCharacteristics;
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
  EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
  EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
  EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
  // Dynamic base means something only with relocations to apply.
  EXPECT_GT(image.directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u);
  // Reproducible: no link time stamp.
  EXPECT_EQ(nt.FileHeader.TimeDateStamp, 0u);
}

TEST(ReleaseImage, ImportsOnlyDllsEveryWindowsHas) {
  const auto imports = PeImage().Imports();
  for (const auto& [dll, functions] : imports) {
    std::string name = dll;
    for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const bool system = name == "KERNEL32.DLL" || name == "ADVAPI32.DLL" || name == "MSVCRT.DLL" ||
                        name.rfind("API-MS-WIN-CRT-", 0) == 0;
    EXPECT_TRUE(system) << "imports " << dll;
  }
  // The wide console entry takes its arguments from the C runtime in wide form.
  ASSERT_TRUE(imports.count("msvcrt.dll"));
  EXPECT_TRUE(imports.at("msvcrt.dll").count("__wgetmainargs"));
}

// Windows 10 1607 and later resolve even the loader's own loads from the system folder; the
// program looks SetDefaultDllDirectories up, since an import would keep it from starting on
// Windows that lack it.
TEST(ReleaseImage, DeclaresItsDllsSystemFolderOnly) {
  const PeImage image;
  const IMAGE_DATA_DIRECTORY entry = image.directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
  ASSERT_GE(entry.Size, offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, EditList));
  const auto config = image.AtAddress<IMAGE_LOAD_CONFIG_DIRECTORY32>(entry.VirtualAddress);
  EXPECT_EQ(config.Size, entry.Size);
  EXPECT_EQ(config.Reserved1, LOAD_LIBRARY_SEARCH_SYSTEM32);  // DependentLoadFlags
  // No empty claim of safe exception handlers: it uses none, or lists them.
  EXPECT_TRUE((image.nt().OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH) ||
              (config.SEHandlerTable != 0 && config.SEHandlerCount != 0));
  for (const auto& [dll, functions] : image.Imports())
    EXPECT_FALSE(functions.count("SetDefaultDllDirectories")) << dll;
}

// Resources through the loader, as Explorer and the installer itself see them.
class ReleaseResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(ReleasePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << GetLastError();
  }
  void TearDown() override { FreeLibrary(module_); }

  std::set<ULONG_PTR> Types() const {
    std::set<ULONG_PTR> types;
    EnumResourceTypesW(
        module_,
        [](HMODULE, LPWSTR type, LONG_PTR out) WINAPI -> BOOL {
          reinterpret_cast<std::set<ULONG_PTR>*>(out)->insert(reinterpret_cast<ULONG_PTR>(type));
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&types));
    return types;
  }
  std::set<ULONG_PTR> Names(const wchar_t* type) const {
    std::set<ULONG_PTR> names;
    EnumResourceNamesW(
        module_, type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) WINAPI -> BOOL {
          reinterpret_cast<std::set<ULONG_PTR>*>(out)->insert(reinterpret_cast<ULONG_PTR>(name));
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    return names;
  }
  std::set<WORD> Languages(const wchar_t* type, ULONG_PTR name) const {
    std::set<WORD> languages;
    EnumResourceLanguagesW(
        module_, type, MAKEINTRESOURCEW(name),
        [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) WINAPI -> BOOL {
          reinterpret_cast<std::set<WORD>*>(out)->insert(language);
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    return languages;
  }
  std::string Bytes(const wchar_t* type, ULONG_PTR name) const {
    const HRSRC resource = FindResourceExW(module_, type, MAKEINTRESOURCEW(name), 1033);
    if (resource == nullptr) return {};
    const void* data = LockResource(LoadResource(module_, resource));
    return std::string(static_cast<const char*>(data), SizeofResource(module_, resource));
  }

  HMODULE module_ = nullptr;
};

ULONG_PTR Id(const wchar_t* type) { return reinterpret_cast<ULONG_PTR>(type); }

TEST_F(ReleaseResources, HoldExactlyThePayloadsVersionAndManifestInUsEnglish) {
  EXPECT_EQ(Types(), (std::set<ULONG_PTR>{Id(RT_RCDATA), Id(RT_VERSION), Id(RT_MANIFEST)}));
  std::set<ULONG_PTR> payloads;
  for (const PayloadEntry& entry : BuildCatalogue()) payloads.insert(entry.resource_id);
  EXPECT_EQ(payloads.size(), 6u);
  EXPECT_EQ(Names(RT_RCDATA), payloads);
  EXPECT_EQ(Names(RT_VERSION), std::set<ULONG_PTR>{1});
  EXPECT_EQ(Names(RT_MANIFEST), std::set<ULONG_PTR>{1});
  for (const wchar_t* type : {RT_RCDATA, RT_VERSION, RT_MANIFEST}) {
    for (ULONG_PTR name : Names(type))
      EXPECT_EQ(Languages(type, name), std::set<WORD>{1033}) << Id(type) << "/" << name;
  }
}

TEST_F(ReleaseResources, PayloadsAreTheFilesUnchanged) {
  for (const PayloadEntry& entry : BuildCatalogue())
    EXPECT_EQ(Bytes(RT_RCDATA, entry.resource_id), ExpectedPayloads().at(entry.file_name))
        << entry.resource_id;
}

TEST_F(ReleaseResources, ManifestAsksForNoElevation) {
  EXPECT_EQ(Bytes(RT_MANIFEST, 1),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
            "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
            "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
            "    <security>\r\n"
            "      <requestedPrivileges>\r\n"
            "        <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
            "      </requestedPrivileges>\r\n"
            "    </security>\r\n"
            "  </trustInfo>\r\n"
            "</assembly>\r\n");
}

class VersionRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(ReleasePath().c_str(), &ignored);
    ASSERT_GT(size, 0u) << GetLastError();
    data_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(ReleasePath().c_str(), 0, size, data_.data()));
  }
  template <typename T>
  const T* Query(const std::wstring& path, UINT* length = nullptr) {
    void* value = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(data_.data(), path.c_str(), &value, &size)) return nullptr;
    if (length != nullptr) *length = size;
    return static_cast<const T*>(value);
  }
  std::wstring String(const wchar_t* key) {
    const wchar_t* text = Query<wchar_t>(std::wstring(L"\\StringFileInfo\\040904E4\\") + key);
    return text != nullptr ? text : L"<missing>";
  }
  std::vector<char> data_;
};

TEST_F(VersionRecord, FixedPartDescribesAnApplicationOfMajorVersion13) {
  const auto* fixed = Query<VS_FIXEDFILEINFO>(L"\\");
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 13);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, 0x40004u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  const std::wstring numbers = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                               std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(String(L"FileVersion"), numbers);
  EXPECT_EQ(String(L"ProductVersion"), numbers);
}

TEST_F(VersionRecord, StringsNameTheProductAndTheInstaller) {
  UINT length = 0;
  const auto* translation = Query<WORD>(L"\\VarFileInfo\\Translation", &length);
  ASSERT_NE(translation, nullptr);
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04E4);

  EXPECT_EQ(String(L"ProductName"), L"Orvex Pro");
  EXPECT_EQ(String(L"FileDescription"), L"OrvexProChineseOCR");
  EXPECT_EQ(String(L"InternalName"), L"OrvexProChineseOCR");
  EXPECT_EQ(String(L"OriginalFilename"), L"OrvexProChineseOCR");
  EXPECT_EQ(String(L"CompanyName"), L"" ORVEX_COMPANY_NAME);
  EXPECT_EQ(String(L"LegalCopyright"), L"" ORVEX_COPYRIGHT);
}

}  // namespace
