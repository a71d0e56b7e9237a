// actions.cpp: the annotation action language. Runs action lists on a stack of
// strings (DoActions) and rewrites action texts at compile time (MergeActions,
// RemapArgs, MaxActionArg). Entry points are declared in common.h.
#include "common.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Largest argument number kept while reading digits. Larger numbers saturate
// here so that "n + 1" and "m + j - 1" in the callers cannot overflow; no
// stack or argument map is ever that large, so the result is the same error.
const int kMaxArgNumber = INT_MAX / 4;

// Size of the result buffers of MergeActions and RemapArgs, terminator included.
const int kResultSize = 2000;

// The character code that separates segments: that of the one-byte text 0xB7.
// Where 0xB7 leads a two-byte character no character of a text has this
// code (not even a lead byte cut off by the terminator, which the stepping
// functions return alone), so actions there have a single segment. Under
// UTF-8 codes are code points: 0xB7 is the character U+00B7 (C2 B7), and the
// byte 0xB7 of a character such as D0 B7 is never a character of its own.
unsigned Separator(const TCodePage& cp) {
  return cp.Lead(0xB7) ? 0xB700u : 0xB7u;
}

unsigned CharAt(const TCodePage& cp, const char* p) {
  return static_cast<unsigned>(cp.NextC(reinterpret_cast<const unsigned char*>(p)));
}

const char* NextChar(const TCodePage& cp, const char* p) {
  return reinterpret_cast<const char*>(cp.Inc(reinterpret_cast<const unsigned char*>(p)));
}

bool AtTopReference(const TCodePage& cp, const char* p) {
  return CharAt(cp, p) == '{' && CharAt(cp, NextChar(cp, p)) == '}';
}

// What one segment consumes, found by the same walk that executes it.
struct SegmentShape {
  int max_arg = 0;   // largest argument number
  bool top = false;  // contains "{}"
  bool arg0 = false; // contains a brace group without digits
};

SegmentShape ScanSegment(const TCodePage& cp, const char* p, unsigned sep) {
  SegmentShape shape;
  for (unsigned c; (c = CharAt(cp, p)) != 0 && c != sep;) {
    if (AtTopReference(cp, p)) {
      shape.top = true;
      p = NextChar(cp, NextChar(cp, p));
      continue;
    }
    mbstring m(p);
    int k;
    if (GetActionArg(cp, m, k)) {
      if (k > shape.max_arg) shape.max_arg = k;
      if (k == 0) shape.arg0 = true;
      p = m.s;
    } else {
      p = NextChar(cp, p);
    }
  }
  return shape;
}

void AppendBytes(TCharArray& buf, const char* text) {
  if (!text) return;
  // Bytes, not character codes: under UTF-8 a code above 0x7F is a character.
  for (; *text; ++text) buf.TArrayX<char>::Add(*text);
}

// A bounded writer into one of the static result buffers; running out of room
// is an error rather than an overrun.
class ResultWriter {
 public:
  // The result is assembled apart and copied to out at Finish, so that an
  // argument may be the previous result held in out.
  ResultWriter(char* out, const char* what) : out_(out), what_(what) {}

  void Bytes(const char* from, const char* to) {
    size_t n = static_cast<size_t>(to - from);
    Reserve(n);
    memcpy(buf_ + len_, from, n);
    len_ += n;
  }

  void Arg(int k) {
    char tmp[16] = {};
    mbstring out(tmp);
    PutArg(out, k);
    Bytes(tmp, out.s);
  }

  char* Finish() {
    buf_[len_] = 0;
    memcpy(out_, buf_, len_ + 1);
    return out_;
  }

 private:
  void Reserve(size_t n) {
    if (len_ + n + 1 > static_cast<size_t>(kResultSize))
      Error("%s: result longer than %d bytes", what_, kResultSize - 1);
  }

  char buf_[kResultSize];
  char* out_;
  const char* what_;
  size_t len_ = 0;
};

// Copies the character at p to w and returns the position after it.
const char* CopyChar(const TCodePage& cp, ResultWriter& w, const char* p) {
  const char* next = NextChar(cp, p);
  w.Bytes(p, next);
  return next;
}

char merge_result[kResultSize];
char remap_result[kResultSize];

} // namespace

int GetActionArg(mbstring& s, int& k) { return GetActionArg(ProcessCodePage(), s, k); }

int GetActionArg(const TCodePage& cp, mbstring& s, int& k) {
  const char* p = s.s;
  if (!p || CharAt(cp, p) != '{') return 0;
  p = NextChar(cp, p);
  if (CharAt(cp, p) == '}') return 0;
  const unsigned sep = Separator(cp);
  k = 0;
  for (unsigned c; (c = CharAt(cp, p)) != 0 && c != sep; p = NextChar(cp, p)) {
    if (c >= '0' && c <= '9') {
      int d = static_cast<int>(c - '0');
      k = k > (kMaxArgNumber - d) / 10 ? kMaxArgNumber : k * 10 + d;
    } else if (c == '}') {
      s.s = const_cast<char*>(NextChar(cp, p));
      return 1;
    }
  }
  return 0;
}

int MaxActionArg(mbstring s) {
  if (!s) return 0;
  const TCodePage& cp = ProcessCodePage();
  const unsigned sep = Separator(cp);
  int max = 0;
  for (unsigned c; (c = CharAt(cp, s.s)) != 0 && c != sep;) {
    int k;
    if (GetActionArg(cp, s, k)) {
      if (k > max) max = k;
    } else {
      s.s = const_cast<char*>(NextChar(cp, s.s));
    }
  }
  return max;
}

void DoActions(TStringList& stack, mbstring action) { DoActions(stack, action, ProcessCodePage()); }

void DoActions(TStringList& stack, mbstring action, const TCodePage& cp) {
  if (!action) return;
  const unsigned sep = Separator(cp);
  TCharArray buf;
  const char* p = action.s;
  for (;;) {
    SegmentShape shape = ScanSegment(cp, p, sep);
    const int n = shape.max_arg + (shape.top ? 1 : 0);
    const int have = stack.length;
    if (n > have) Error("need %d items on stack, have %d", n, have);
    // A brace group without digits names the item just below the consumed
    // ones; refuse it when there is none instead of reading before the stack.
    if (shape.arg0 && n >= have) Error("need %d items on stack, have %d", n + 1, have);

    buf.Clear();
    unsigned c;
    while ((c = CharAt(cp, p)) != 0 && c != sep) {
      if (AtTopReference(cp, p)) {
        AppendBytes(buf, stack[have - 1].s);
        p = NextChar(cp, NextChar(cp, p));
        continue;
      }
      mbstring m(p);
      int k;
      if (GetActionArg(cp, m, k)) {
        AppendBytes(buf, stack[have - n + k - 1].s);
        p = m.s;
      } else {
        // The character's own bytes: what CharBytes would write back.
        const char* next = NextChar(cp, p);
        for (; p < next; p++) buf.TArrayX<char>::Add(*p);
      }
    }
    stack.Length(have - n);
    buf.Add(0u);
    stack.Add(mbstring(buf.elements));
    if (c == 0) break;
    p = NextChar(cp, p);
  }
}

mbstring DoActions(TStringList& actions) { return DoActions(actions, ProcessCodePage()); }

mbstring DoActions(TStringList& actions, const TCodePage& cp) {
  TStringList stack;
  for (int i = 0; i < actions.length; i++) DoActions(stack, actions[i], cp);
  if (stack.length > 1) {
    Debug("stack has %d elements\n", stack.length);
    Error("internal error: stack has %d elements", stack.length);
  }
  if (stack.length == 0) return mbstring();
  return mbstring(Copy(stack[0].s));
}

mbstring MergeActions(mbstring first, mbstring second) {
  const TCodePage& cp = ProcessCodePage();
  const int m = MaxActionArg(second);
  if (m == 0) Warning("merging '%s' and '%s'", first.s ? first.s : "", second.s ? second.s : "");
  ResultWriter w(merge_result, "merging actions");
  const char* p = second.s ? second.s : "";
  while (CharAt(cp, p) != 0) {
    mbstring ref(p);
    int k;
    if (!GetActionArg(cp, ref, k)) {
      p = CopyChar(cp, w, p);
      continue;
    }
    p = ref.s;
    if (k != m) {
      w.Arg(k);
      continue;
    }
    const char* q = first.s ? first.s : "";
    while (CharAt(cp, q) != 0) {
      mbstring inner(q);
      int j;
      if (GetActionArg(cp, inner, j)) {
        w.Arg(m + j - 1);
        q = inner.s;
      } else {
        q = CopyChar(cp, w, q);
      }
    }
  }
  return mbstring(w.Finish());
}

mbstring RemapArgs(mbstring s, int max, int* map) {
  const TCodePage& cp = ProcessCodePage();
  for (int k = 0; k <= max; k++) map[k] = 0;
  const char* text = s.s ? s.s : "";
  // Arguments above max (possible only in later segments) have no slot in
  // map; they are neither counted nor renumbered.
  for (const char* p = text; CharAt(cp, p) != 0;) {
    mbstring ref(p);
    int k;
    if (GetActionArg(cp, ref, k)) {
      if (k <= max) map[k] = 1;
      p = ref.s;
    } else {
      p = NextChar(cp, p);
    }
  }
  for (int k = 0, next = 1; k <= max; k++)
    if (map[k]) map[k] = next++;

  ResultWriter w(remap_result, "renumbering arguments");
  for (const char* p = text; CharAt(cp, p) != 0;) {
    mbstring ref(p);
    int k;
    if (!GetActionArg(cp, ref, k)) {
      p = CopyChar(cp, w, p);
      continue;
    }
    if (k <= max)
      w.Arg(map[k]);
    else
      w.Bytes(p, ref.s);
    p = ref.s;
  }
  return mbstring(w.Finish());
}

void PutArg(mbstring& out, int k) {
  char tmp[16];
  int n = snprintf(tmp, sizeof tmp, "{%d}", k);
  for (int i = 0; i < n; i++) *out.s++ = tmp[i];
}

char* starts_with(char* s, const char* prefix) {
  size_t n = strlen(prefix);
  return strncmp(s, prefix, n) == 0 ? s + n : nullptr;
}
