#include "pgraphic/optimized_palette.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace pg {

namespace {

// --- true-colour sources: box bisection over a 5-6-5 histogram ---------------------

constexpr int RCells = 32, GCells = 64, BCells = 32;
// Cell (r, g, b) lives at r * RStride + g * GStride + b.
constexpr int GStride = BCells, RStride = GCells * BCells;
constexpr int MaxBoxes = 256;

using THistogram = std::vector<std::uint16_t>;

struct TColorBox {
  int RLo = 0, RHi = RCells - 1;
  int GLo = 0, GHi = GCells - 1;
  int BLo = 0, BHi = BCells - 1;
  int Size = 0;
  int Volume = 0;
};

// Channel extents weighted so that one step of 5-bit red or blue (16) and of 6-bit
// green (12) count roughly alike.
int WeightB(const TColorBox& B) { return (B.BHi - B.BLo) * 16; }
int WeightG(const TColorBox& B) { return (B.GHi - B.GLo) * 12; }
int WeightR(const TColorBox& B) { return (B.RHi - B.RLo) * 16; }

void UpdateMeasures(TColorBox& B) {
  const int wB = WeightB(B), wG = WeightG(B), wR = WeightR(B);
  B.Size = wB * wB + wG * wG + wR * wR;
  B.Volume = (B.RHi - B.RLo + 1) * (B.GHi - B.GLo + 1) * (B.BHi - B.BLo + 1);
}

bool AnyCount(const THistogram& H, int RLo, int RHi, int GLo, int GHi, int BLo, int BHi) {
  for (int r = RLo; r <= RHi; ++r)
    for (int g = GLo; g <= GHi; ++g) {
      const std::uint16_t* Cell = H.data() + r * RStride + g * GStride;
      for (int b = BLo; b <= BHi; ++b)
        if (Cell[b] != 0) return true;
    }
  return false;
}

// Moves Bound toward Opposite (Step 1 up, -1 down) to the first plane that holds a
// counted cell; Bound stays when none does. HasCount(v) tells whether plane v holds one.
template <typename F>
void MoveBound(int& Bound, int Opposite, int Step, F HasCount) {
  for (int v = Bound; Step > 0 ? v <= Opposite : v >= Opposite; v += Step)
    if (HasCount(v)) {
      Bound = v;
      return;
    }
}

void ShrinkBox(const THistogram& H, TColorBox& B) {
  auto BPlane = [&](int v) { return AnyCount(H, B.RLo, B.RHi, B.GLo, B.GHi, v, v); };
  auto GPlane = [&](int v) { return AnyCount(H, B.RLo, B.RHi, v, v, B.BLo, B.BHi); };
  auto RPlane = [&](int v) { return AnyCount(H, v, v, B.GLo, B.GHi, B.BLo, B.BHi); };
  if (B.BLo < B.BHi) MoveBound(B.BLo, B.BHi, 1, BPlane);
  if (B.BLo < B.BHi) MoveBound(B.BHi, B.BLo, -1, BPlane);
  if (B.GLo < B.GHi) MoveBound(B.GLo, B.GHi, 1, GPlane);
  if (B.GLo < B.GHi) MoveBound(B.GHi, B.GLo, -1, GPlane);
  if (B.RLo < B.RHi) MoveBound(B.RLo, B.RHi, 1, RPlane);
  if (B.RLo < B.RHi) MoveBound(B.RHi, B.RLo, -1, RPlane);
  UpdateMeasures(B);
}

// Counts the source pixels per cell; counters stop at 65535. An abort ends the
// counting after the current row.
void CountTrueColor(TPixelGraphic& Dest, const TPixelGraphic& Source, THistogram& H) {
  const int Width = Source.GetWidth(), Height = Source.GetHeight();
  std::uint16_t* const Cells = H.data();
  for (int y = 0; y < Height; ++y) {
    const std::uint8_t* P = Source.GetScanLine(y);
    const std::uint8_t* const End = P + 3 * static_cast<std::size_t>(Width);
    for (; P != End; P += 3) {
      std::uint16_t& C = Cells[((P[2] >> 3) << 11) | ((P[1] >> 2) << 5) | (P[0] >> 3)];
      C = static_cast<std::uint16_t>(C + (C != 0xFFFF));
    }
    if (Dest.Progress(y, Height - 1)) break;
  }
}

// The box to split next, or -1 when no box can be split. While many more boxes are
// wanted, big boxes are cut by volume (spreading entries over the colour space);
// towards the end, by weighted extent.
int ChooseBox(const std::vector<TColorBox>& Boxes, int BoxCount, int n) {
  const bool BySize = n < 2 * BoxCount;
  int Best = -1, BestValue = 0;
  for (int i = 0; i < BoxCount; ++i) {
    const TColorBox& B = Boxes[static_cast<std::size_t>(i)];
    if (B.Size == 0) continue;
    const int Value = BySize ? B.Size : B.Volume;
    if (Best < 0 || Value > BestValue) {
      Best = i;
      BestValue = Value;
    }
  }
  return Best;
}

TRGB BoxColor(const THistogram& H, const TColorBox& B) {
  std::uint64_t N = 0, RSum = 0, GSum = 0, BSum = 0;
  for (int r = B.RLo; r <= B.RHi; ++r)
    for (int g = B.GLo; g <= B.GHi; ++g) {
      const std::uint16_t* Cell = H.data() + r * RStride + g * GStride;
      for (int b = B.BLo; b <= B.BHi; ++b) {
        const std::uint64_t c = Cell[b];
        if (c == 0) continue;
        N += c;
        RSum += (8 * static_cast<std::uint64_t>(r) + 4) * c;
        GSum += (4 * static_cast<std::uint64_t>(g) + 2) * c;
        BSum += (8 * static_cast<std::uint64_t>(b) + 4) * c;
      }
    }
  if (N == 0) return 0;  // cannot happen: every box holds a counted cell
  return RGBColor(static_cast<int>((RSum + N / 2) / N), static_cast<int>((GSum + N / 2) / N),
                  static_cast<int>((BSum + N / 2) / N));
}

void BoxPalette(TPixelGraphic& Dest, const TPixelGraphic& Source, int n) {
  THistogram H(static_cast<std::size_t>(RCells) * GCells * BCells, 0);
  CountTrueColor(Dest, Source, H);

  std::vector<TColorBox> Boxes(MaxBoxes);
  ShrinkBox(H, Boxes[0]);
  int BoxCount = 1;
  while (BoxCount < n) {
    const int Chosen = ChooseBox(Boxes, BoxCount, n);
    if (Chosen < 0) break;
    TColorBox& Old = Boxes[static_cast<std::size_t>(Chosen)];
    TColorBox& New = Boxes[static_cast<std::size_t>(BoxCount)];
    New = Old;
    const int wB = WeightB(Old), wG = WeightG(Old), wR = WeightR(Old);
    if (std::max(wG, wR) < wB) {
      const int Mid = (Old.BLo + Old.BHi) / 2;
      New.BLo = Mid + 1;
      Old.BHi = Mid;
    } else if (wG < wR) {
      const int Mid = (Old.RLo + Old.RHi) / 2;
      New.RLo = Mid + 1;
      Old.RHi = Mid;
    } else {
      const int Mid = (Old.GLo + Old.GHi) / 2;
      New.GLo = Mid + 1;
      Old.GHi = Mid;
    }
    ShrinkBox(H, Old);
    ShrinkBox(H, New);
    ++BoxCount;
  }

  Dest.SetPaletteCount(BoxCount);
  for (int i = 0; i < BoxCount; ++i) Dest.SetPaletteEntry(i, BoxColor(H, Boxes[static_cast<std::size_t>(i)]));
}

// --- palette sources: an octree over the used palette colours -----------------------

constexpr int OctreeDepth = 8;

struct TOctreeNode {
  int Level = 0;
  bool IsLeaf = false;
  bool InList = false;
  std::uint64_t Count = 0, RSum = 0, GSum = 0, BSum = 0;
  int ChildCount = 0;
  std::array<std::unique_ptr<TOctreeNode>, 8> Children;  // octant 4 r + 2 g + b
  // Links of the reducible list of the node's level (not owning).
  TOctreeNode* Next = nullptr;
  TOctreeNode* Prev = nullptr;
};

// Merge order among reducible nodes: the darkest (by weighted sums) goes first.
std::uint64_t ReduceKey(const TOctreeNode& N) { return 2 * N.RSum + 3 * N.GSum + N.BSum; }

class TOctree {
public:
  explicit TOctree(int MaxLeaves) : FMaxLeaves(MaxLeaves), FRoot(std::make_unique<TOctreeNode>()) {}

  void Add(TRGB Color, std::uint64_t Weight) {
    Insert(*FRoot, Color, Weight);
    if (FLeafCount > FMaxLeaves) Reduce();
  }

  int LeafCount() const { return FLeafCount; }

  // Palette entries of the leaves, depth first in octant order.
  void WriteLeaves(TPixelGraphic& Dest) const {
    int Index = 0;
    WriteLeaves(*FRoot, Dest, Index);
  }

private:
  void Insert(TOctreeNode& Node, TRGB Color, std::uint64_t Weight) {
    const int R = RedOf(Color), G = GreenOf(Color), B = BlueOf(Color);
    Node.Count += Weight;
    Node.RSum += Weight * static_cast<std::uint64_t>(R);
    Node.GSum += Weight * static_cast<std::uint64_t>(G);
    Node.BSum += Weight * static_cast<std::uint64_t>(B);
    if (Node.IsLeaf || Node.Level >= FLeafLevel) return;

    const int Shift = 7 - Node.Level;
    const int Octant = 4 * ((R >> Shift) & 1) + 2 * ((G >> Shift) & 1) + ((B >> Shift) & 1);
    std::unique_ptr<TOctreeNode>& Child = Node.Children[static_cast<std::size_t>(Octant)];
    if (Child) {
      if (Node.ChildCount > 1 && !Node.InList) Link(Node);
    } else {
      Child = std::make_unique<TOctreeNode>();
      Child->Level = Node.Level + 1;
      if (Child->Level >= FLeafLevel) {
        Child->IsLeaf = true;
        ++FLeafCount;
      }
      ++Node.ChildCount;
    }
    Insert(*Child, Color, Weight);
  }

  void Link(TOctreeNode& Node) {
    TOctreeNode*& Head = FLists[static_cast<std::size_t>(Node.Level)];
    Node.Prev = nullptr;
    Node.Next = Head;
    if (Head) Head->Prev = &Node;
    Head = &Node;
    Node.InList = true;
  }

  void Unlink(TOctreeNode& Node) {
    if (!Node.InList) return;
    if (Node.Prev) Node.Prev->Next = Node.Next;
    else FLists[static_cast<std::size_t>(Node.Level)] = Node.Next;
    if (Node.Next) Node.Next->Prev = Node.Prev;
    Node.Next = Node.Prev = nullptr;
    Node.InList = false;
  }

  // Unlinks every node below Node and counts the leaves that go with them.
  void ReleaseBelow(TOctreeNode& Node) {
    for (auto& Child : Node.Children) {
      if (!Child) continue;
      if (Child->IsLeaf) --FLeafCount;
      else ReleaseBelow(*Child);
      Unlink(*Child);
    }
  }

  void Reduce() {
    TOctreeNode* Chosen = nullptr;
    for (int Level = FLeafLevel - 1; Level >= 0 && !Chosen; --Level)
      for (TOctreeNode* N = FLists[static_cast<std::size_t>(Level)]; N; N = N->Next)
        if (!Chosen || ReduceKey(*N) < ReduceKey(*Chosen)) Chosen = N;
    // A node only joins a list when a colour passes through one of its existing
    // children; branches made of new children alone are in no list. Merge the deepest
    // such branch then, so that the leaves always fit the palette.
    if (!Chosen) Chosen = DeepestBranch(*FRoot, nullptr);
    if (!Chosen) return;  // a single leaf: nothing to merge

    Unlink(*Chosen);
    ReleaseBelow(*Chosen);
    for (auto& Child : Chosen->Children) Child.reset();
    Chosen->ChildCount = 0;
    Chosen->IsLeaf = true;
    ++FLeafCount;
    if (FLeafLevel - 1 > Chosen->Level) FLeafLevel = Chosen->Level + 1;
  }

  // The deepest node with two or more children; the first in depth-first order with
  // the smallest merge key among those of that depth.
  static TOctreeNode* DeepestBranch(TOctreeNode& Node, TOctreeNode* Best) {
    if (Node.IsLeaf) return Best;
    if (Node.ChildCount >= 2 &&
        (!Best || Node.Level > Best->Level || (Node.Level == Best->Level && ReduceKey(Node) < ReduceKey(*Best))))
      Best = &Node;
    for (auto& Child : Node.Children)
      if (Child) Best = DeepestBranch(*Child, Best);
    return Best;
  }

  static void WriteLeaves(const TOctreeNode& Node, TPixelGraphic& Dest, int& Index) {
    if (Node.IsLeaf) {
      const std::uint64_t N = std::max<std::uint64_t>(Node.Count, 1);
      Dest.SetPaletteEntry(Index++, RGBColor(static_cast<int>(Node.RSum / N), static_cast<int>(Node.GSum / N),
                                             static_cast<int>(Node.BSum / N)));
      return;
    }
    for (const auto& Child : Node.Children)
      if (Child) WriteLeaves(*Child, Dest, Index);
  }

  int FMaxLeaves;
  int FLeafLevel = OctreeDepth;
  std::array<TOctreeNode*, OctreeDepth> FLists{};  // reducible nodes per level, newest first
  int FLeafCount = 0;
  std::unique_ptr<TOctreeNode> FRoot;
};

// Pixels per palette index; an abort ends the counting after the current row.
void CountIndices(TPixelGraphic& Dest, const TPixelGraphic& Source, std::array<std::uint64_t, 256>& Counts) {
  const int Width = Source.GetWidth(), Height = Source.GetHeight(), Num = Source.GetBitCountNum();
  for (int y = 0; y < Height; ++y) {
    const std::uint8_t* Row = Source.GetScanLine(y);
    switch (Num) {
      case 0:
        for (int x = 0; x < Width; ++x) ++Counts[(Row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 1:
        for (int x = 0; x < Width; ++x) ++Counts[(x & 1) ? Row[x >> 1] & 15 : Row[x >> 1] >> 4];
        break;
      default:
        for (int x = 0; x < Width; ++x) ++Counts[Row[x]];
    }
    if (Dest.Progress(y, Height - 1)) break;
  }
}

void OctreePalette(TPixelGraphic& Dest, const TPixelGraphic& Source, int n) {
  TOctree Tree(n);
  std::array<std::uint64_t, 256> Counts{};
  CountIndices(Dest, Source, Counts);
  for (int i = 0; i < 256; ++i)
    if (Counts[static_cast<std::size_t>(i)] > 0) Tree.Add(Source.GetPaletteEntry(i), Counts[static_cast<std::size_t>(i)]);
  Dest.SetPaletteCount(Tree.LeafCount());
  Tree.WriteLeaves(Dest);
}

}  // namespace

void CreateOptimizedPalette(TPixelGraphic& Dest, const TPixelGraphic& Source, int Count, bool IncludeSysColors) {
  Count = std::min(Count, MaxBoxes);  // no palette holds more; the box table has no room for more
  const int n = IncludeSysColors ? Count - 16 : Count;
  if (Source.GetWidth() < 1 || Source.GetHeight() < 1 || n < 1) {
    Dest.SetPaletteIdent(pSys16);
    Dest.SetPaletteCount(std::min(Count, 16));
    return;
  }

  Dest.SetPaletteCount(0);
  if (Source.GetBitCountNum() == 3) BoxPalette(Dest, Source, n);
  else OctreePalette(Dest, Source, n);

  if (IncludeSysColors) {
    const auto Sys = StandardPalette(pSys16);
    for (std::size_t i = 0; i < Sys.size() && Dest.PaletteCount() < Count; ++i) {
      const int k = Dest.PaletteCount() + 1;
      Dest.SetPaletteCount(k);
      if (Dest.PaletteCount() != k) break;  // Dest's format is full
      Dest.SetPaletteEntry(k - 1, Sys[i]);
    }
  }
}

}  // namespace pg
