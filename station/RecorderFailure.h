#pragma once

#include <exception>
#include <string>

namespace station {

// The operator's sentence for a trace or log file (its full path) that the
// serial layer could not write when the port closed, from the exception it
// raised: "端口已关闭，但串口记录文件 <file> 无法写入：<reason>。" (UTF-8). The
// reasons an operator can act on are said in Chinese; any other keeps the
// system's own text after "系统错误：".
std::string RecorderFailureText(const std::string& file, const std::exception& error);

}  // namespace station
