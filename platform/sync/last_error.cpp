#include "platform/sync/last_error.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

namespace qv::sync {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENXIO:
    case ENODEV: return ERROR_DEV_NOT_EXIST;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    // A port that another program holds reads on Windows as "access denied".
    case EBUSY:
    case EWOULDBLOCK: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case ERANGE:
    case EFAULT: return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EIO: return ERROR_IO_DEVICE;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EINTR: return ERROR_OPERATION_ABORTED;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD SetLastErrorFromErrno(int error) {
  const DWORD code = Win32ErrorFromErrno(error);
  SetLastError(code);
  return code;
}

std::string SystemErrorText(DWORD code) {
  const char* text = nullptr;
  switch (code) {
    case ERROR_SUCCESS: text = "The operation completed successfully."; break;
    case ERROR_INVALID_FUNCTION: text = "Incorrect function."; break;
    case ERROR_FILE_NOT_FOUND: text = "The system cannot find the file specified."; break;
    case ERROR_PATH_NOT_FOUND: text = "The system cannot find the path specified."; break;
    case ERROR_TOO_MANY_OPEN_FILES: text = "The system cannot open the file."; break;
    case ERROR_ACCESS_DENIED:
      text =
          "Access is denied.\r\n(A serial port is refused when another program has it open, "
          "or when your user may not use it: on Linux, add yourself to the 'dialout' group.)";
      break;
    case ERROR_INVALID_HANDLE: text = "The handle is invalid."; break;
    case ERROR_NOT_ENOUGH_MEMORY:
      text = "Not enough memory resources are available to process this command.";
      break;
    case ERROR_OUTOFMEMORY:
      text = "Not enough memory resources are available to complete this operation.";
      break;
    case ERROR_NOT_READY: text = "The device is not ready."; break;
    case ERROR_BAD_COMMAND: text = "The device does not recognize the command."; break;
    case ERROR_WRITE_FAULT: text = "The system cannot write to the specified device."; break;
    case ERROR_READ_FAULT: text = "The system cannot read from the specified device."; break;
    case ERROR_GEN_FAILURE: text = "A device attached to the system is not functioning."; break;
    case ERROR_SHARING_VIOLATION:
      text = "The process cannot access the file because it is being used by another process.";
      break;
    case ERROR_HANDLE_EOF: text = "Reached the end of the file."; break;
    case ERROR_NOT_SUPPORTED: text = "The request is not supported."; break;
    case ERROR_DEV_NOT_EXIST:
      text = "The specified network resource or device is no longer available.";
      break;
    case ERROR_FILE_EXISTS: text = "The file exists."; break;
    case ERROR_INVALID_PARAMETER: text = "The parameter is incorrect."; break;
    case ERROR_BROKEN_PIPE: text = "The pipe has been ended."; break;
    case ERROR_SEM_TIMEOUT: text = "The semaphore timeout period has expired."; break;
    case ERROR_INSUFFICIENT_BUFFER:
      text = "The data area passed to a system call is too small.";
      break;
    case ERROR_INVALID_NAME:
      text = "The filename, directory name, or volume label syntax is incorrect.";
      break;
    case ERROR_MOD_NOT_FOUND: text = "The specified module could not be found."; break;
    case ERROR_PROC_NOT_FOUND: text = "The specified procedure could not be found."; break;
    case ERROR_BUSY: text = "The requested resource is in use."; break;
    case ERROR_ALREADY_EXISTS: text = "Cannot create a file when that file already exists."; break;
    case ERROR_MORE_DATA: text = "More data is available."; break;
    case ERROR_NO_MORE_ITEMS: text = "No more data is available."; break;
    case ERROR_OPERATION_ABORTED:
      text =
          "The I/O operation has been aborted because of either a thread exit or an application request.";
      break;
    case ERROR_IO_INCOMPLETE: text = "Overlapped I/O event is not in a signaled state."; break;
    case ERROR_IO_PENDING: text = "Overlapped I/O operation is in progress."; break;
    case ERROR_NOACCESS: text = "Invalid access to memory location."; break;
    case ERROR_IO_DEVICE:
      text = "The request could not be performed because of an I/O device error.";
      break;
    case ERROR_COUNTER_TIMEOUT:
      text = "A serial I/O operation completed because the timeout period expired.";
      break;
    case ERROR_DEVICE_NOT_CONNECTED: text = "The device is not connected."; break;
    case ERROR_NOT_FOUND: text = "Element not found."; break;
    case ERROR_CANCELLED: text = "The operation was canceled by the user."; break;
    case ERROR_INVALID_THREAD_ID: text = "Invalid thread identifier."; break;
    case ERROR_TIMEOUT: text = "This operation returned because the timeout period expired."; break;
    case ERROR_DEVICE_REMOVED: text = "The device has been removed."; break;
    case ERROR_BAD_UNIT: text = "The system cannot find the device specified."; break;
    default: return {};
  }
  return std::string(text) + "\r\n";
}

}  // namespace qv::sync
