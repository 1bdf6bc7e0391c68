// libFuzzer target: one connection's client and server bytes, in chunks of
// any size (FuzzInput.h), fed to the protocol decoder. Sanitizers catch
// memory faults, undefined behaviour and leaks; the sink checks what the
// decoder promises about every statement it reports.

#include "FuzzInput.h"
#include "MysqlDecoder.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct CheckingSink : MysqlDecoder::Sink
{
    void login(const QString&, const QString&, bool) override {}
    void statement(MysqlDecoder::Statement&& st) override
    {
        // At most MaxText bytes of text and the "[...]" marker; sizes never negative.
        if (st.text.size() > MysqlDecoder::MaxText + 5 || st.requestKb < -1.0f / 1024 || st.responseKb < 0) {
            std::fprintf(stderr, "bad statement: %d bytes of text, request %f KiB, response %f KiB\n",
                         int(st.text.size()), double(st.requestKb), double(st.responseKb));
            std::abort();
        }
    }
    void databaseChanged(const QString&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckingSink sink;
    MysqlDecoder decoder(&sink);
    fuzzinput::forEachChunk(data, size, [&](bool server, const char* bytes, qsizetype n, double ms) {
        if (server)
            decoder.feedServer(bytes, n, ms);
        else
            decoder.feedClient(bytes, n);
    });
    return 0;
}
