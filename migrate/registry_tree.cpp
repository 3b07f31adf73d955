#include "migrate/registry_tree.h"

#include "common/text.h"

#include "common/cmd/registry_key.h"

#include <algorithm>
#include <cwchar>
#include <unordered_map>

namespace {

const wchar_t MACHINE_ROOT_NAME[] = L"HKEY_LOCAL_MACHINE\\";


LONG readKey(const std::wstring& subKey, RegistryTree& tree, std::wstring& failedKey)
{
    CRegistryKey key;
    LONG rc = key.Open(HKEY_LOCAL_MACHINE, subKey);
    if (rc == ERROR_SUCCESS) {
        RegistryKeyContent content;
        content.path = MACHINE_ROOT_NAME + subKey;
        RegistryValue value;
        DWORD index = 0;
        while ((rc = key.ReadValueAt(index++, value.name, value.type, value.data)) == ERROR_SUCCESS)
            content.values.push_back(value);
        if (rc == ERROR_NO_MORE_ITEMS) {
            tree.push_back(std::move(content));
            std::vector<std::wstring> subKeys;
            std::wstring name;
            index = 0;
            while ((rc = key.EnumSubKey(index++, name)) == ERROR_SUCCESS)
                subKeys.push_back(name);
            if (rc == ERROR_NO_MORE_ITEMS) {
                rc = ERROR_SUCCESS;
                key.Close();
                for (const std::wstring& below : subKeys)
                    if ((rc = readKey(subKey + L"\\" + below, tree, failedKey)) != ERROR_SUCCESS)
                        return rc;
            }
        }
    }
    if (rc != ERROR_SUCCESS && failedKey.empty())
        failedKey = MACHINE_ROOT_NAME + subKey;
    return rc;
}

// A registration file's text, a line at a time.
class CLineReader {
public:
    explicit CLineReader(const std::wstring& text) : m_text(text) {}

    bool Next(std::wstring& line)
    {
        if (m_at >= m_text.size())
            return false;
        const size_t end = m_text.find(L'\n', m_at);
        const size_t stop = end == std::wstring::npos ? m_text.size() : end;
        line = m_text.substr(m_at, stop - m_at);
        m_at = end == std::wstring::npos ? m_text.size() : end + 1;
        ++m_number;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        return true;
    }

    unsigned Number() const { return m_number; }

private:
    const std::wstring& m_text;
    size_t m_at = 0;
    unsigned m_number = 0;
};

// Reads a quoted text starting at line[at] == '"'; `at` ends behind the
// closing quote. The escapes are the registry editor's.
bool quoted(const std::wstring& line, size_t& at, std::wstring& out)
{
    out.clear();
    for (++at; at < line.size(); ++at) {
        wchar_t c = line[at];
        if (c == L'"') {
            ++at;
            return true;
        }
        if (c == L'\\' && at + 1 < line.size()) {
            const wchar_t escaped = line[++at];
            switch (escaped) {
            case L'\\':
            case L'"':
                c = escaped;
                break;
            case L'n':
                c = L'\n';
                break;
            case L'r':
                c = L'\r';
                break;
            case L'0':
                c = L'\0';
                break;
            default:
                out += L'\\';
                c = escaped;
            }
        }
        out += c;
    }
    return false;
}

int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// "hh,hh,..." (blanks allowed around each byte).
bool hexBytes(const std::wstring& text, std::string& out)
{
    out.clear();
    size_t at = 0;
    auto blanks = [&] {
        while (at < text.size() && (text[at] == L' ' || text[at] == L'\t'))
            ++at;
    };
    blanks();
    while (at < text.size()) {
        int high = hexDigit(text[at]);
        int low = at + 1 < text.size() ? hexDigit(text[at + 1]) : -1;
        if (high < 0)
            return false;
        if (low < 0) { // a single digit
            low = high;
            high = 0;
            at += 1;
        } else {
            at += 2;
        }
        out += static_cast<char>(high * 16 + low);
        blanks();
        if (at < text.size() && text[at] != L',')
            return false;
        if (at < text.size())
            ++at;
        blanks();
    }
    return true;
}

bool parseData(const std::wstring& text, RegistryValue& value, bool& deletes)
{
    deletes = text == L"-";
    if (deletes)
        return true;
    if (!text.empty() && text[0] == L'"') {
        size_t at = 0;
        std::wstring string;
        if (!quoted(text, at, string) || text.find_first_not_of(L" \t", at) != std::wstring::npos)
            return false;
        value.type = REG_SZ;
        value.data.assign(reinterpret_cast<const char*>(string.c_str()), (string.size() + 1) * sizeof(wchar_t));
        return true;
    }
    if (text.compare(0, 6, L"dword:") == 0) {
        const std::wstring digits = text.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        DWORD number = 0;
        for (wchar_t c : digits) {
            if (hexDigit(c) < 0)
                return false;
            number = number * 16 + DWORD(hexDigit(c));
        }
        value.type = REG_DWORD;
        value.data.assign(reinterpret_cast<const char*>(&number), sizeof number);
        return true;
    }
    size_t colon = 0;
    if (text.compare(0, 4, L"hex:") == 0) {
        value.type = REG_BINARY;
        colon = 3;
    } else if (text.compare(0, 4, L"hex(") == 0) {
        const size_t close = text.find(L"):");
        if (close == std::wstring::npos || close == 4 || close > 12)
            return false;
        DWORD type = 0;
        for (size_t i = 4; i < close; ++i) {
            if (hexDigit(text[i]) < 0)
                return false;
            type = type * 16 + DWORD(hexDigit(text[i]));
        }
        value.type = type;
        colon = close + 1;
    } else {
        return false;
    }
    return hexBytes(text.substr(colon + 1), value.data);
}

// The data of a string value as a registration file carries it: up to its first null.
std::wstring stringOf(const std::string& data)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    return end == std::wstring::npos ? text : text.substr(0, end);
}

bool sameValue(const RegistryValue& a, const RegistryValue& b)
{
    if (a.type != b.type)
        return false;
    if (a.type == REG_SZ)
        return stringOf(a.data) == stringOf(b.data);
    return a.data == b.data;
}

std::wstring described(const RegistryValue& value, const std::wstring& key)
{
    return value.name.empty() ? L"the default value of " + key : L"the value \"" + value.name + L"\" under " + key;
}

std::wstring typeName(DWORD type)
{
    wchar_t name[REG_TYPE_NAME_CHARS];
    return CRegistryKey::TypeName(type, name, REG_TYPE_NAME_CHARS);
}

// The keys of a tree by folded path, each with its values by folded name.
struct TreeIndex {
    struct Key {
        const RegistryKeyContent* content;
        std::unordered_map<std::wstring, const RegistryValue*> values;
    };
    std::unordered_map<std::wstring, Key> keys;

    explicit TreeIndex(const RegistryTree& tree)
    {
        for (const RegistryKeyContent& key : tree) {
            Key& entry = keys[foldedCase(key.path)];
            entry.content = &key;
            for (const RegistryValue& value : key.values)
                entry.values[foldedCase(value.name)] = &value;
        }
    }

    const Key* Find(const std::wstring& path) const
    {
        auto found = keys.find(foldedCase(path));
        return found == keys.end() ? nullptr : &found->second;
    }

    static const RegistryValue* Value(const Key& key, const std::wstring& name)
    {
        auto found = key.values.find(foldedCase(name));
        return found == key.values.end() ? nullptr : found->second;
    }
};

} // namespace

LONG readRegistryTree(const std::wstring& subKey, RegistryTree& tree, std::wstring& failedKey)
{
    tree.clear();
    failedKey.clear();
    return readKey(subKey, tree, failedKey);
}

bool parseRegistrationText(const std::wstring& text, RegistryTree& tree, std::wstring& reason)
{
    tree.clear();
    CLineReader lines(text);
    std::wstring line;
    bool skipping = false; // in a section that deletes its key
    bool header = true;
    while (lines.Next(line)) {
        if (header) { // "Windows Registry Editor Version 5.00" or "REGEDIT4"
            header = false;
            continue;
        }
        const size_t start = line.find_first_not_of(L" \t");
        if (start == std::wstring::npos || line[start] == L';')
            continue;
        line.erase(0, start);
        if (line[0] == L'[') {
            const size_t close = line.rfind(L']');
            skipping = close != std::wstring::npos && close > 1 && line[1] == L'-';
            if (close == std::wstring::npos || close == 1) {
                reason = L"line " + std::to_wstring(lines.Number()) + L" names no key";
                return false;
            }
            if (!skipping)
                tree.push_back(RegistryKeyContent { line.substr(1, close - 1), {} });
            continue;
        }
        RegistryValue value;
        size_t at = 0;
        bool named = line[0] == L'@';
        if (named)
            at = 1;
        else
            named = line[0] == L'"' && quoted(line, at, value.name);
        std::wstring data = named && at < line.size() ? line.substr(at + 1) : std::wstring();
        // Hexadecimal data goes on over lines that end in a backslash; the
        // blanks that start the next line do not count.
        std::wstring more;
        while (data.compare(0, 3, L"hex") == 0 && !data.empty() && data.back() == L'\\' && lines.Next(more)) {
            data.pop_back();
            data += more.substr(std::min(more.size(), more.find_first_not_of(L" \t")));
        }
        bool deletes = false;
        if (!named || at >= line.size() || line[at] != L'=' || tree.empty() || !parseData(data, value, deletes)) {
            reason = L"line " + std::to_wstring(lines.Number()) + L" cannot be read: " + line.substr(0, 80);
            return false;
        }
        if (!skipping && !deletes)
            tree.back().values.push_back(std::move(value));
    }
    return true;
}

TreeShortfall shortfallOf(const RegistryTree& expected, const RegistryTree& actual)
{
    const TreeIndex index(actual);
    TreeShortfall shortfall;
    auto miss = [&shortfall](const std::wstring& what) {
        if (shortfall.missing++ == 0)
            shortfall.first = what;
    };
    for (const RegistryKeyContent& key : expected) {
        ++shortfall.checked;
        const TreeIndex::Key* found = index.Find(key.path);
        if (!found)
            miss(L"the key " + key.path + L" is missing");
        for (const RegistryValue& value : key.values) {
            ++shortfall.checked;
            const RegistryValue* there = found ? TreeIndex::Value(*found, value.name) : nullptr;
            if (!found)
                ++shortfall.missing; // counted with its key
            else if (!there)
                miss(described(value, key.path) + L" is missing");
            else if (there->type != value.type)
                miss(described(value, key.path) + L" is " + typeName(there->type) + L", not "
                     + typeName(value.type));
            else if (!sameValue(*there, value))
                miss(described(value, key.path) + L" holds other data");
        }
    }
    return shortfall;
}

TreeAdditions additionsIn(const RegistryTree& before, const RegistryTree& after)
{
    const TreeIndex index(before);
    TreeAdditions added;
    std::wstring newBranch; // folded, with a trailing backslash
    for (const RegistryKeyContent& key : after) {
        const std::wstring path = foldedCase(key.path);
        // A tree lists each key before the keys below it.
        if (!newBranch.empty() && path.compare(0, newBranch.size(), newBranch) == 0)
            continue;
        const TreeIndex::Key* found = index.Find(key.path);
        if (!found) {
            added.keys.push_back(key.path);
            newBranch = path + L"\\";
            continue;
        }
        for (const RegistryValue& value : key.values)
            if (!TreeIndex::Value(*found, value.name))
                added.values.emplace_back(key.path, value.name);
    }
    return added;
}

std::wstring regExeKeyName(const std::wstring& path)
{
    const size_t root = wcslen(MACHINE_ROOT_NAME);
    if (_wcsnicmp(path.c_str(), MACHINE_ROOT_NAME, root) == 0)
        return L"HKLM\\" + path.substr(root);
    return path;
}
