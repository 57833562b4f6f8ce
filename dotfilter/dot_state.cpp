// dot_state.cpp - storage of quilldot's per-thread job state.
#include "dot_state.h"

namespace quilldot {

thread_local int Model = 0;
thread_local int HasCutter = 0;
thread_local int HasDrawer = 0;
thread_local int HasBlackMark = 0;
thread_local int MaxWidth = 0;

thread_local int CuttingMethod = 0;
thread_local int DrawerMethod = 0;
thread_local int BlackMarkMethod = 0;
thread_local int LogoMethod = 0;
thread_local int PaperType = 0;

thread_local volatile sig_atomic_t Canceled = 0;
thread_local int OutputError = 0;

thread_local int NumPlanes = 0;
thread_local uint8_t* Planes[kMaxPlanes] = {};
thread_local std::vector<uint8_t> RowBuffer;

thread_local int DotBytes = 0;
thread_local int DotColumns = 0;
thread_local int Interleaved = 0;
thread_local int Shingling = 0;

thread_local std::vector<uint8_t> CompBuffer;
thread_local std::vector<uint8_t> BandBuffer;
thread_local uint8_t* LineBuffers[2] = {};

thread_local int DotBit = 0;
thread_local int GroupRow = 0;
thread_local int LineCount = 0;
thread_local int EvenOffset = 0;
thread_local int OddOffset = 0;
thread_local int BlankRowCnt = 0;
thread_local long Feed = 0;

namespace {

// Empties v and gives its memory back.
template <typename T>
void Free(std::vector<T>* v) {
  std::vector<T>().swap(*v);
}

}  // namespace

void ResetState() {
  Model = HasCutter = HasDrawer = HasBlackMark = MaxWidth = 0;
  CuttingMethod = DrawerMethod = BlackMarkMethod = LogoMethod = PaperType = 0;
  Canceled = 0;
  OutputError = 0;
  NumPlanes = 0;
  for (uint8_t*& p : Planes) p = nullptr;
  Free(&RowBuffer);
  DotBytes = DotColumns = Interleaved = Shingling = 0;
  Free(&CompBuffer);
  Free(&BandBuffer);
  LineBuffers[0] = LineBuffers[1] = nullptr;
  DotBit = GroupRow = LineCount = EvenOffset = OddOffset = BlankRowCnt = 0;
  Feed = 0;
}

}  // namespace quilldot
