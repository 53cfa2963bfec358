#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace tavoro::test {

// What ffprobe says of a raw H.264 file: "profile=Main\nwidth=640\nheight=360\nnb_read_frames=45\n".
inline std::string probe(const std::filesystem::path& file)
{
    const std::string command = "ffprobe -v error -f h264 -select_streams v:0 -count_frames "
                                "-show_entries stream=profile,width,height,nb_read_frames -of default=noprint_wrappers=1 '" +
        file.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) {
        output += buffer;
    }
    return output;
}

} // namespace tavoro::test
