// Speed of the workbench's heavy paths, on the real window (offscreen):
//   BuildArgumentList of 10,000 lines          target < 10 ms
//   ShowListResult of 100,000 entries          target < 0.5 s
//   a 4000 x 4000 picture handed to Image1     target < 50 ms, at most one pixel copy
#include "result_text.h"
#include "tform1.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollArea>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

struct TForm1Access {
    static void BuildArgumentList(TForm1& form) { form.BuildArgumentList(); }
    static void ShowListResult(TForm1& form, const NameValueList* list) { form.ShowListResult(list, true); }
    static const NameValueList& arguments(const TForm1& form) { return form.FArgs; }
};

namespace {

TForm1* gForm = nullptr; // shown by main() for all the benchmarks

TForm1& window() { return *gForm; }

void BM_BuildArgumentList10000(benchmark::State& state)
{
    TForm1& form = window();
    QStringList lines;
    for (int i = 0; i < 10000; ++i)
        lines.append(QStringLiteral("  FieldName%1 = Some value of record %1  ").arg(i));
    form.Parameters->setPlainText(lines.join(u'\n'));
    for (auto _ : state) {
        TForm1Access::BuildArgumentList(form);
        benchmark::DoNotOptimize(TForm1Access::arguments(form).count);
    }
    if (TForm1Access::arguments(form).count != 10000)
        state.SkipWithError("wrong entry count");
    form.Parameters->clear();
}
BENCHMARK(BM_BuildArgumentList10000)->Unit(benchmark::kMillisecond);

// 100,000 entries the way the library hands them over.
struct BigList {
    std::vector<std::string> store;
    std::vector<char*> names, values;
    NameValueList list{0, nullptr, nullptr};
    BigList()
    {
        store.reserve(200000);
        for (int i = 0; i < 100000; ++i) {
            store.push_back("Field" + std::to_string(i));
            store.push_back("Value of entry " + std::to_string(i));
        }
        for (size_t i = 0; i < store.size(); i += 2) {
            names.push_back(store[i].data());
            values.push_back(store[i + 1].data());
        }
        list = {100000, names.data(), values.data()};
    }
};

// The text alone, without the memo: what the workbench adds to Qt's cost.
void BM_ListLines100000(benchmark::State& state)
{
    const BigList big;
    for (auto _ : state)
        benchmark::DoNotOptimize(resulttext::listLines(big.list));
}
BENCHMARK(BM_ListLines100000)->Unit(benchmark::kMillisecond);

void BM_ShowListResult100000(benchmark::State& state)
{
    TForm1& form = window();
    const BigList big;
    const NameValueList& list = big.list;
    for (auto _ : state) {
        TForm1Access::ShowListResult(form, &list);
        // Include the first paint of the memo.
        form.ResultsList->viewport()->repaint();
    }
    if (form.ResultsList->blockCount() != 100000)
        state.SkipWithError("wrong line count");
    form.ResultsList->clear();
}
BENCHMARK(BM_ShowListResult100000)->Unit(benchmark::kMillisecond);

void BM_Picture4000(benchmark::State& state)
{
    TForm1& form = window();
    for (auto _ : state) {
        state.PauseTiming();
        // The library's part: a decoded picture in a new bitmap handle.
        const CWBitmap bitmap = cw_bitmap_create(4000, 4000);
        uint32_t* pixels = cw_bitmap_pixels(bitmap);
        for (int i = 0; i < 4000 * 4000; i += 97)
            pixels[i] = 0xff000000u | static_cast<uint32_t>(i);
        state.ResumeTiming();

        form.Image1->setBitmap(bitmap); // replaces (and deletes) the previous one
        form.PopupScrollBox->viewport()->repaint();

        // Zero copies: the picture still paints from the handle's own pixels.
        if (form.Image1->picture().constBits() != reinterpret_cast<const uchar*>(pixels))
            state.SkipWithError("the picture's pixels were copied");
    }
    if (cw_bitmap_live_count() != 1)
        state.SkipWithError("more than one bitmap alive");
}
BENCHMARK(BM_Picture4000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TForm1 form;
    form.show();
    QApplication::processEvents();
    gForm = &form;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
