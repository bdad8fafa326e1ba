#include "runtime/format.h"

#include <stdint.h>

namespace {

struct Directive {
  bool leftAlign = false;
  bool zeroPad = false;
  size_t width = 0;
  int longCount = 0;
};

// Collects output in a small buffer so that the sink sees few, larger pieces.
class Emitter {
 public:
  explicit Emitter(const FormatSink& sink) : sink_(sink) {}
  ~Emitter() { Flush(); }

  void Put(char c) {
    if (used_ == sizeof(buffer_)) Flush();
    buffer_[used_++] = c;
    ++total_;
  }
  void Put(const char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) Put(bytes[i]);
  }
  void Repeat(char c, size_t count) {
    for (size_t i = 0; i < count; ++i) Put(c);
  }
  void Flush() {
    if (used_ > 0) sink_.Write(sink_.context, buffer_, used_);
    used_ = 0;
  }
  size_t Total() const { return total_; }

 private:
  const FormatSink& sink_;
  char buffer_[128];
  size_t used_ = 0;
  size_t total_ = 0;
};

size_t Length(const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

// Pads a finished conversion to the field width. Zero padding goes after the
// sign or "0x" prefix, as printf does.
void EmitPadded(Emitter& out, const Directive& directive, const char* prefix, const char* body,
                size_t bodyLength) {
  size_t prefixLength = Length(prefix);
  size_t length = prefixLength + bodyLength;
  size_t pad = directive.width > length ? directive.width - length : 0;
  if (directive.leftAlign) {
    out.Put(prefix, prefixLength);
    out.Put(body, bodyLength);
    out.Repeat(' ', pad);
  } else if (directive.zeroPad) {
    out.Put(prefix, prefixLength);
    out.Repeat('0', pad);
    out.Put(body, bodyLength);
  } else {
    out.Repeat(' ', pad);
    out.Put(prefix, prefixLength);
    out.Put(body, bodyLength);
  }
}

// Writes value's digits right-aligned into digits[0..24); returns the start.
size_t ToDigits(uint64_t value, unsigned base, bool upper, char (&digits)[24]) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  size_t start = sizeof(digits);
  do {
    digits[--start] = set[value % base];
    value /= base;
  } while (value != 0);
  return start;
}

void EmitNumber(Emitter& out, const Directive& directive, uint64_t magnitude, bool negative, unsigned base,
                bool upper, const char* prefix) {
  char digits[24];
  size_t start = ToDigits(magnitude, base, upper, digits);
  EmitPadded(out, directive, negative ? "-" : prefix, digits + start, sizeof(digits) - start);
}

int64_t SignedArgument(const Directive& directive, va_list& args) {
  if (directive.longCount >= 2) return va_arg(args, long long);
  if (directive.longCount == 1) return va_arg(args, long);
  return va_arg(args, int);
}

uint64_t UnsignedArgument(const Directive& directive, va_list& args) {
  if (directive.longCount >= 2) return va_arg(args, unsigned long long);
  if (directive.longCount == 1) return va_arg(args, unsigned long);
  return va_arg(args, unsigned int);
}

// Reads flags, width and length modifiers after '%'; returns the conversion.
const char* ParseDirective(const char* p, Directive& directive) {
  for (;; ++p) {
    if (*p == '-') {
      directive.leftAlign = true;
    } else if (*p == '0') {
      directive.zeroPad = true;
    } else {
      break;
    }
  }
  while (*p >= '0' && *p <= '9') {
    if (directive.width < 4096) directive.width = directive.width * 10 + static_cast<size_t>(*p - '0');
    ++p;
  }
  while (*p == 'l') {
    ++directive.longCount;
    ++p;
  }
  return p;
}

void EmitConversion(Emitter& out, char conversion, const Directive& directive, va_list& args) {
  switch (conversion) {
    case 'd': {
      int64_t value = SignedArgument(directive, args);
      uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
      EmitNumber(out, directive, magnitude, value < 0, 10, false, "");
      break;
    }
    case 'u':
      EmitNumber(out, directive, UnsignedArgument(directive, args), false, 10, false, "");
      break;
    case 'x':
    case 'X':
      EmitNumber(out, directive, UnsignedArgument(directive, args), false, 16, conversion == 'X', "");
      break;
    case 'p': {
      const void* pointer = va_arg(args, const void*);
      if (pointer == nullptr) {
        EmitPadded(out, directive, "", "(nil)", 5);
      } else {
        EmitNumber(out, directive, reinterpret_cast<uintptr_t>(pointer), false, 16, false, "0x");
      }
      break;
    }
    case 's': {
      const char* text = va_arg(args, const char*);
      if (text == nullptr) text = "(null)";
      Directive plain = directive;
      plain.zeroPad = false;
      EmitPadded(out, plain, "", text, Length(text));
      break;
    }
    case 'c': {
      char c = static_cast<char>(va_arg(args, int));
      Directive plain = directive;
      plain.zeroPad = false;
      EmitPadded(out, plain, "", &c, 1);
      break;
    }
    case '%':
      out.Put('%');
      break;
    default:
      // Not in the subset: shown as written so that the mistake is visible.
      out.Put('%');
      out.Put(conversion);
      break;
  }
}

struct BufferSinkState {
  char* buffer;
  size_t capacity;
  size_t used;
};

void WriteToBuffer(void* context, const char* bytes, size_t length) {
  auto* state = static_cast<BufferSinkState*>(context);
  for (size_t i = 0; i < length; ++i) {
    if (state->capacity > 0 && state->used < state->capacity - 1) state->buffer[state->used++] = bytes[i];
  }
}

}  // namespace

size_t FormatToSink(const FormatSink& sink, const char* format, va_list args) {
  Emitter out(sink);
  va_list cursor;
  va_copy(cursor, args);
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    Directive directive;
    p = ParseDirective(p + 1, directive);
    if (*p == '\0') break;
    EmitConversion(out, *p, directive, cursor);
  }
  va_end(cursor);
  out.Flush();
  return out.Total();
}

size_t FormatStringV(char* buffer, size_t capacity, const char* format, va_list args) {
  BufferSinkState state{buffer, capacity, 0};
  FormatSink sink{WriteToBuffer, &state};
  size_t total = FormatToSink(sink, format, args);
  if (capacity > 0) buffer[state.used] = '\0';
  return total;
}

size_t FormatString(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t total = FormatStringV(buffer, capacity, format, args);
  va_end(args);
  return total;
}
