// USB transactions against a device whose answer reports come from the input:
// chunks, flags, lengths, overflow, failed and missing reads. The request's
// reports must carry the payload exactly, and the answer must stay inside the
// caller's buffer, terminated, whatever the device sends.
//
// Input: U16 report length (mod 1100; 13 or less: the device is not used), then
// up to 8 transactions:
//   Byte flags (1 answer buffer, 2 answer length, 4 the first write fails),
//   U16 answer size (mod 5000), U16 payload length (mod 4000), U32 command,
//   Byte number of reads (mod 24), each read a Byte kind:
//     0 time-out, 1 failure,
//     2 a well-formed report: U16 chunk length (mod L), the chunk, Byte last, U32 result
//     else raw report bytes: U16 length (mod L + 64), then the bytes.
#include <memory>
#include <string>
#include <vector>

#include "CUSBDevice.h"
#include "FuzzHid.h"
#include "FuzzInput.h"

namespace {

fuzz::Batch ReadBatch(fuzz::Input& in, int L) {
    fuzz::Batch batch;
    int reads = in.Byte() % 24;
    for (int i = 0; i < reads && !in.Empty(); ++i) {
        uint8_t kind = in.Byte();
        if (kind == 0) {
            batch.push_back({fuzz::ScriptedRead::kTimeout, {}});
        } else if (kind == 1) {
            batch.push_back({fuzz::ScriptedRead::kFailed, {}});
        } else if (kind == 2) {
            std::string chunk = in.Take(in.U16() % L);
            bool last = in.Byte() & 1;
            auto result = static_cast<int32_t>(in.U32());
            batch.push_back({fuzz::ScriptedRead::kReport,
                             fuzz::AnswerReport(static_cast<size_t>(L), chunk, last, result)});
        } else {
            batch.push_back({fuzz::ScriptedRead::kReport, in.Take(in.U16() % (L + 64))});
        }
    }
    return batch;
}

// The request as it reached the device: whole reports carrying the payload in
// order, the last one flagged; nothing more after a failed write.
void CheckRequest(const fuzz::HidScript& s, size_t first, int L, uint32_t cmd,
                  const std::string& payload, bool writeFailed) {
    size_t reports = s.written.size() - first;
    if (writeFailed) {
        fuzz::Check(reports == 1, "reports written after a failed write",
                    static_cast<long>(reports));
        return;
    }
    std::string carried;
    for (size_t i = first; i < s.written.size(); ++i) {
        const std::string& r = s.written[i];
        fuzz::Check(r.size() == static_cast<size_t>(L), "request report length",
                    static_cast<long>(r.size()), L);
        fuzz::Check(
            r[0] == 0 && fuzz::GetLe(r, 1, 4) == strevo::kFrameMagic && fuzz::GetLe(r, 5, 4) == cmd,
            "request header");
        uint32_t chunk = fuzz::GetLe(r, 9, 2);
        fuzz::Check(chunk <= static_cast<uint32_t>(L - 13), "request chunk too long", chunk);
        bool final = i + 1 == s.written.size();
        fuzz::Check(fuzz::GetLe(r, 11, 2) == (final ? 1u : 0u), "last-chunk flag",
                    static_cast<long>(i - first));
        carried.append(r, 13, chunk);
    }
    fuzz::Check(reports >= 1, "no request report");
    fuzz::Check(carried == payload, "payload not carried", static_cast<long>(carried.size()),
                static_cast<long>(payload.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    int L = in.U16() % 1100;
    auto backend = std::make_shared<fuzz::ScriptedBackend>();
    auto script = backend->Add(L);
    strevo::CUSBDevice usb(backend);
    int opened = usb.DeviceOpen();
    fuzz::Check(opened == (L > 13 ? 1 : 0), "device with a report length of 13 or less opened", L);
    if (!opened)
        return 0;
    strevo::UsbHandle handle = usb.GetEntry(0).handle;

    for (int t = 0; t < 8 && !in.Empty(); ++t) {
        uint8_t flags = in.Byte();
        uint32_t answerSize = in.U16() % 5000;
        uint32_t payloadLen = in.U16() % 4000;
        uint32_t cmd = in.U32();
        // Reads a transaction leaves unread stay queued, as stale reports for the next.
        script->batches.clear();
        script->batches.push_back(ReadBatch(in, L));

        std::string payload(payloadLen, '\0');
        for (uint32_t i = 0; i < payloadLen; ++i) payload[i] = static_cast<char>(i * 7 + cmd);
        size_t first = script->written.size();
        script->failWrite = (flags & 4) ? static_cast<int>(first) : -1;
        // Exactly the announced size, so a write past it is caught.
        std::unique_ptr<char[]> answer((flags & 1) ? new char[answerSize] : nullptr);
        uint32_t answerLen = 0xDEADBEEF;
        int32_t rc =
            strevo::CUSBDevice::Transact(handle, cmd, payload.data(), payloadLen, answer.get(),
                                         answerSize, (flags & 2) ? &answerLen : nullptr, 5);
        CheckRequest(*script, first, L, cmd, payload, flags & 4);
        if (flags & 2) {
            fuzz::Check(answerLen != 0xDEADBEEF, "answer length not set");
            if (answer && answerSize > 0) {
                fuzz::Check(answerLen < answerSize, "answer length beyond the buffer", answerLen,
                            answerSize);
                fuzz::Check(answerLen == 0 || answer[answerLen] == '\0', "answer not terminated",
                            answerLen);
            } else {
                fuzz::Check(answerLen == 0, "answer length without a buffer", answerLen);
            }
        }
        if (rc == strevo::kUsbAnswerTooLarge)
            fuzz::Check(answer != nullptr, "overflow without an answer buffer");
    }
    usb.CloseDevices();
    fuzz::Check(strevo::CUSBDevice::Transact(handle, 1, nullptr, 0, nullptr, 0, nullptr, 5) ==
                    strevo::kUsbInvalidHandle,
                "closed handle still reaches the device");
    return 0;
}
