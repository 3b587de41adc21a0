#include "CameraCommands.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "OperatorMessages.h"
#include "ParamFile.h"

namespace strevoctl {
namespace {

const char* const kPtzActions[] = {"Up",        "Down",     "Left",      "Right",     "LeftUp",
                                   "RightUp",   "LeftDown", "RightDown", "ZoomTele",  "ZoomWide",
                                   "FocusNear", "FocusFar", "IrisOpen",  "IrisClose", "Stop",
                                   "ZoomStop",  "FocusStop"};

class StderrMessages final : public strevo::IOperatorMessages {
  public:
    void Show(const std::string& text) override {
        std::fprintf(stderr, "strevoctl: %s\n", text.c_str());
    }
};

bool ParseInt(const std::string& text, long min, long max, long* out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end || errno == ERANGE || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool Usage(const std::string& what) {
    std::fprintf(stderr, "strevoctl: %s (see --help)\n", what.c_str());
    return false;
}

}  // namespace

std::string CameraCommandsHelp(const char* group, const char* target) {
    struct Line {
        const char* cmd;
        const char* args;
        const char* text;  // lines after the first are indented under it
    };
    const Line lines[] = {
        {"get", "", "print every parameter as KEY=VALUE, in record order"},
        {"set", " KEY=VALUE...",
         "write the given parameters in one command\n(keys as printed by get)"},
        {"defaults", "", "restore the camera's default parameters"},
        {"focus-near", "", "print the focus near limit in mm as FocusNear=VALUE"},
        {"export", " DIR|FILE",
         "read the parameters, write DIR/video_params.dat\n(or FILE when not a folder)"},
        {"import", " FILE", "send a 55-byte parameter file to the camera"},
        {"ptz", " ACTION [SPEED]",
         "one PTZ command, SPEED 1 to 8 (default 5); ACTION: Up, Down,\n"
         "Left, Right, LeftUp, RightUp, LeftDown, RightDown, ZoomTele,\n"
         "ZoomWide, FocusNear, FocusFar, IrisOpen, IrisClose, Stop,\n"
         "ZoomStop, FocusStop"},
    };
    constexpr size_t kColumn = 36;
    std::string out;
    for (const Line& l : lines) {
        std::string head = std::string("  ") + group + " " + l.cmd + " " + target + l.args;
        // The first text line goes beside the command when it fits.
        out += head;
        bool beside = head.size() < kColumn;
        out += beside ? std::string(kColumn - head.size(), ' ') : "\n";
        std::string text = l.text;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t nl = text.find('\n', pos);
            if (nl == std::string::npos)
                nl = text.size();
            if (!beside)
                out += std::string(kColumn, ' ');
            out += text.substr(pos, nl - pos) + "\n";
            beside = false;
            pos = nl + 1;
        }
    }
    return out;
}

bool ParseCameraCommand(const std::string& cmd, const Args& rest, CameraCommand* out) {
    out->name = cmd;
    if (cmd == "get" || cmd == "defaults" || cmd == "focus-near") {
        if (!rest.empty())
            return Usage(cmd + " takes no further arguments");
        return true;
    }
    if (cmd == "set") {
        if (rest.empty())
            return Usage("set needs KEY=VALUE");
        for (const std::string& a : rest) {
            size_t eq = a.find('=');
            if (eq == std::string::npos)
                return Usage("set takes KEY=VALUE, not '" + a + "'");
            const strevo::VideoParamField* f = strevo::FindVideoParamField(a.substr(0, eq));
            if (!f)
                return Usage("unknown parameter '" + a.substr(0, eq) + "'");
            long v = 0;
            if (!ParseInt(a.substr(eq + 1), INT32_MIN, INT32_MAX, &v))
                return Usage("value of " + std::string(f->key) + " is not an integer");
            if (!out->items.empty())
                out->items += ",";
            out->items += strevo::MakeVideoParamItem(f->key, static_cast<int>(v));
        }
        return true;
    }
    if (cmd == "export" || cmd == "import") {
        if (rest.size() != 1)
            return Usage(cmd + (cmd == "export" ? " needs DIR or FILE" : " needs FILE"));
        out->path = rest[0];
        return true;
    }
    if (cmd == "ptz") {
        if (rest.empty() || rest.size() > 2)
            return Usage("ptz needs ACTION [SPEED]");
        for (const char* a : kPtzActions)
            if (strcasecmp(a, rest[0].c_str()) == 0)
                out->ptzAction = a;
        if (out->ptzAction.empty())
            return Usage("unknown PTZ action '" + rest[0] + "'");
        long speed = 5;
        if (rest.size() == 2 && !ParseInt(rest[1], 1, 8, &speed))
            return Usage("SPEED takes 1 to 8");
        strevo::PtzActionParams(out->ptzAction, static_cast<int>(speed), &out->ptzH, &out->ptzV);
        return true;
    }
    return Usage("unknown command '" + cmd + "'");
}

int RunCameraCommand(const CameraCommand& c, const CameraOps& ops) {
    if (c.name == "get") {
        strevo::VideoParam p{};
        int32_t rc = ops.get(&p);
        if (rc != 0)
            return Fail("reading the parameters failed", rc);
        for (const auto& f : strevo::VideoParamFieldsByOffset())
            std::printf("%s=%d\n", f.key, strevo::GetFieldValue(p, f));
        return 0;
    }
    if (c.name == "set") {
        int32_t rc = ops.setItem(c.items.c_str());
        return rc < 0 ? Fail("setting failed", rc) : 0;
    }
    if (c.name == "defaults") {
        int32_t rc = ops.defaults();
        return rc < 0 ? Fail("restoring the defaults failed", rc) : 0;
    }
    if (c.name == "focus-near") {
        int32_t rc = ops.focusNear();
        if (rc < 0)
            return Fail("reading the focus near limit failed", rc);
        std::printf("FocusNear=%d\n", rc);
        return 0;
    }
    strevo::ParamFileTarget target{ops.get, ops.set, nullptr};
    if (c.name == "export") {
        // A folder gets the usual file name; anything else is the file itself.
        std::error_code ec;
        std::string path = c.path;
        if (std::filesystem::is_directory(path, ec))
            path = (std::filesystem::path(path) / strevo::kParamFileName).string();
        int32_t rc = strevo::ExportParams(target, path);
        return rc != 0 ? Fail("export failed", rc) : 0;
    }
    if (c.name == "import") {
        int32_t rc = strevo::ImportParams(target, c.path);
        return rc != 0 ? Fail("import failed", rc) : 0;
    }
    if (c.name == "ptz") {
        int32_t rc = ops.ptz(c.ptzAction.c_str(), c.ptzH, c.ptzV);
        return rc < 0 ? Fail("PTZ command failed", rc) : 0;
    }
    return Fail("unknown command", -1);
}

void InstallStderrMessages() {
    static StderrMessages sink;
    strevo::SetOperatorMessages(&sink);
}

}  // namespace strevoctl
