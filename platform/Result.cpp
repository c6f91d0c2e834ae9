#include "platform/Result.h"

#include <cstring>

FsResult FsResult::fromErrno(int code)
{
    return {code, QString::fromLocal8Bit(std::strerror(code))};
}
