#include "common/files/file_failure.h"

#include "common/cmd/system_error.h"

#include <algorithm>

namespace {

constexpr ULONGLONG MIB = 1u << 20;

FileErrorCause causeOf(DWORD osError)
{
    switch (osError) {
    case ERROR_FILE_NOT_FOUND:
        return FILE_CAUSE_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE:
        return FILE_CAUSE_BAD_PATH;
    case ERROR_TOO_MANY_OPEN_FILES:
        return FILE_CAUSE_TOO_MANY_OPEN_FILES;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
        return FILE_CAUSE_ACCESS_DENIED;
    case ERROR_INVALID_HANDLE:
        return FILE_CAUSE_INVALID_FILE;
    case ERROR_CURRENT_DIRECTORY:
        return FILE_CAUSE_REMOVE_CURRENT_DIR;
    case ERROR_CANNOT_MAKE:
        return FILE_CAUSE_DIRECTORY_FULL;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
        return FILE_CAUSE_BAD_SEEK;
    case ERROR_CRC:
    case ERROR_GEN_FAILURE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
        return FILE_CAUSE_HARD_IO;
    case ERROR_SHARING_VIOLATION:
        return FILE_CAUSE_SHARING_VIOLATION;
    case ERROR_LOCK_VIOLATION:
        return FILE_CAUSE_LOCK_VIOLATION;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return FILE_CAUSE_DISK_FULL;
    case ERROR_HANDLE_EOF:
        return FILE_CAUSE_END_OF_FILE;
    default:
        return FILE_CAUSE_GENERIC;
    }
}

// Whole MiB: a size rounded up, a limit down, so that a refusal never reads
// "600 MiB, more than the 600 MiB".
ULONGLONG mibUp(ULONGLONG bytes)
{
    return (bytes + MIB - 1) / MIB;
}

} // namespace

FileFailure toolFailure(FileErrorCause cause, DWORD osError)
{
    FileFailure failure;
    failure.cause = cause;
    failure.osError = osError;
    return failure;
}

FileFailure systemFailure(DWORD osError)
{
    return toolFailure(causeOf(osError), osError);
}

FileFailure lastSystemFailure()
{
    return systemFailure(GetLastError());
}

std::wstring describeFileFailure(const FileFailure& failure)
{
    switch (failure.cause) {
    case FILE_CAUSE_NONE:
        return L"No failure.";
    case FILE_CAUSE_END_OF_FILE:
        if (failure.osError == 0)
            return L"The file ended before its measured length: it changed while it was read.";
        break;
    case FILE_CAUSE_NOT_UNICODE:
        return L"The file is not UTF-16LE text: it does not begin with the byte-order mark FF FE, or holds nothing "
               L"behind it.";
    case FILE_CAUSE_CHANGED_SIZE:
        return L"The file changed while it was read: it measured " + std::to_wstring(failure.size)
            + L" bytes when the read began, and is no longer that long.";
    case FILE_CAUSE_TOO_LARGE:
        if (failure.limit >= MAXDWORD)
            return L"The file is " + std::to_wstring(mibUp(failure.size))
                + L" MiB; this tool carries over files smaller than 4 GiB only.";
        return L"The file is " + std::to_wstring(mibUp(failure.size)) + L" MiB, more than the "
            + std::to_wstring(failure.limit / MIB) + L" MiB this tool can hold in memory.";
    case FILE_CAUSE_NOT_NARROW:
        return L"The text holds a character above 255, which narrow text cannot hold.";
    case FILE_CAUSE_NOT_CONVERTIBLE:
        return L"The text cannot be converted from the OEM code page: " + systemErrorText(failure.osError);
    case FILE_CAUSE_LINK:
        return failure.path + L" is a link, or a name the file system takes elsewhere.";
    case FILE_CAUSE_SECOND_NAME:
        return failure.path + L" has a second name (a hard link), which may be another account's file.";
    default:
        break;
    }
    if (failure.osError == 0)
        return L"Unknown file error (cause " + std::to_wstring(int(failure.cause)) + L").";
    return systemErrorText(failure.osError);
}

bool w32SizeFits(ULONGLONG size, HeldAs heldAs, FileFailure& failure)
{
    // A 32-bit length counts the file and the two zero bytes that end it;
    // beyond that it would be read short.
    ULONGLONG limit = MAXDWORD - 2;
    switch (heldAs) {
    case HeldAs::Bytes:
        limit = std::min<ULONGLONG>(limit, std::string().max_size());
        break;
    case HeldAs::NarrowText:
        // At most one UTF-16 unit per byte.
        limit = std::min<ULONGLONG>(limit, std::wstring().max_size());
        break;
    case HeldAs::Utf16Text:
        // The bytes are read into units, two zero units behind them.
        limit = std::min<ULONGLONG>(limit, (ULONGLONG(std::wstring().max_size()) - 2) * 2);
        break;
    }
    if (size <= limit)
        return true;
    failure = toolFailure(FILE_CAUSE_TOO_LARGE);
    failure.size = size;
    failure.limit = limit;
    return false;
}
