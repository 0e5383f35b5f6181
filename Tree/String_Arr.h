// String arrays handed to hosts: a small class interface instead of library templates.
// Generic_String_Arr holds the two counts and what every kind shares; String_Arr has fixed
// 256-byte slots; Dynamic_String_Arr gives each text a buffer of its own length and has a
// flat byte form. None of them is safe for concurrent use, and none logs.
#pragma once

#include <memory>
#include <vector>

class Generic_String_Arr {
 public:
  virtual ~Generic_String_Arr() = default;

  // Resets the count of stored texts to 0; every slot and its text stay for reuse.
  virtual void ClearWithoutDeleting() { m_inserted_num = 0; }
  // The text of slot `index` (see each kind for the range it accepts); owned by the array.
  virtual char* GetStr(int index) const = 0;
  // Stores a text (see each kind) and adds 1 to the count of stored texts.
  virtual void SetStr(int index, const char* str, int len) = 0;
  // Appends: stores at slot GetInsertedNum().
  virtual void AddStr(const char* str, int len) { SetStr(m_inserted_num, str, len); }

  // Number of slots.
  int GetArrLen() const { return m_arr_len; }
  // Number of stores since construction or the last reset; the slot AddStr writes next.
  int GetInsertedNum() const { return m_inserted_num; }

 protected:
  Generic_String_Arr() = default;
  explicit Generic_String_Arr(int /*len*/) {}
  Generic_String_Arr(const Generic_String_Arr&) = default;
  Generic_String_Arr& operator=(const Generic_String_Arr&) = default;

  // Releases every slot and sets both counts to 0.
  virtual void clear() = 0;

  int m_arr_len = 0;
  int m_inserted_num = 0;
};

// Fixed slots of 256 bytes: a stored text keeps at most 255 characters and its terminator;
// longer texts are cut. Copies are deep.
class String_Arr : public Generic_String_Arr {
 public:
  static constexpr int kSlotSize = 256;

  String_Arr() = default;
  // `len` unwritten slots (none for a negative `len`).
  explicit String_Arr(int len);
  String_Arr(const String_Arr& other);
  String_Arr& operator=(const String_Arr& other);
  ~String_Arr() override;

  // The slot pointers, GetArrLen() of them, or null when there are none; owned by the array,
  // valid until it grows or is cleared.
  const char** GetStrArray();
  // The buffer of slot `index`, or null when `index` is out of range.
  char* GetStr(int index) const override;
  // Copies `str` (up to its terminator, at most 255 characters; `len` is not used) into slot
  // `index`, growing by five slots at a time until the slot exists. A negative index or a
  // null `str` does nothing.
  void SetStr(int index, const char* str, int len) override;

 protected:
  void clear() override;

 private:
  // Appends `slots` new, empty slots.
  void Grow(int slots);

  // One heap buffer of kSlotSize bytes per slot, so that a slot never shares memory with its
  // neighbours, and the array of their addresses that GetStrArray hands out.
  std::vector<std::unique_ptr<char[]>> m_buffers;
  std::vector<char*> m_str_array;
};

// Each text in a heap buffer of its own exact length; texts may hold NUL bytes when given
// with an explicit length. Has a flat byte form (see FlattenToByteArray). Copies are deep.
class Dynamic_String_Arr : public Generic_String_Arr {
 public:
  Dynamic_String_Arr() = default;
  // `len` slots without text (none for a negative `len`).
  explicit Dynamic_String_Arr(int len);
  // Deep copies: every slot, including texts left behind by ClearWithoutDeleting.
  Dynamic_String_Arr(const Dynamic_String_Arr& other);
  Dynamic_String_Arr& operator=(const Dynamic_String_Arr& other);
  ~Dynamic_String_Arr() override;

  // The text of slot `index` (NUL-terminated; it may hold NUL bytes before GetLength(index)),
  // null for a slot without text or an index out of range. Owned by the array; valid until
  // the slot is refilled, the array is cleared, read into or destroyed.
  char* GetStr(int index) const override;
  // The length of slot `index` without its terminator; -1 for a slot without text or an
  // index out of range.
  int GetLength(int index) const;
  // Copies the first `len` bytes of `str` (up to its first NUL when `len` is negative) into
  // slot GetInsertedNum(), not `index`, and adds 1 to GetInsertedNum(). `index` past the end
  // doubles the array; if that slot still lies past the end, the array grows to at least one
  // slot, then doubles. A negative index, a null `str` or a text over INT_MAX bytes does
  // nothing.
  void SetStr(int index, const char* str, int len) override;

  // The flat form: the entry count N = GetInsertedNum() as decimal digits and a NUL, then for
  // each of slots 0 to N - 1 its length L as decimal digits, a NUL, its L bytes and a NUL.
  // Numbers are canonical: digits only, no sign, no leading zero except in "0".
  // Allocates a block with new[] (the caller releases it with delete[]), writes the flat form
  // into it, stores its address in `buf` and returns the number of bytes written. The block
  // has max(10, digits(N) + 1) + the sum of L + max(10, digits(L) + 2) bytes: 10 + the sum of
  // L + 10 for texts below 100,000,000 bytes, and always enough for what is written. When
  // the flat form would not fit in an int, stores null in `buf` and returns -1.
  int FlattenToByteArray(char*& buf) const;
  // Replaces the contents with the entries of the flat form at `buf`. Not told the size, it
  // trusts the lengths: untrusted bytes go through the sized overload. Numbers are read as
  // stream input reads an int (leading white space, a sign, leading zeros) but must end at
  // their NUL. A null `buf`, a malformed number, a negative length, a count outside
  // [0, 2^30) or a text not followed by a NUL leaves the array empty.
  void ReadFromFlattenedByteArray(char* buf);
  // Replaces the contents with the entries of the `size`-byte flat form at `buf`, never
  // reading outside those bytes. Accepts exactly what FlattenToByteArray writes: every number
  // canonical (see above) and within int, the count no larger than the remaining bytes
  // allow, every text followed by its NUL, and the last NUL at byte `size` - 1. Returns true
  // when the block was read; otherwise (also for a null `buf`) returns false and leaves the
  // array empty.
  bool ReadFromFlattenedByteArray(const char* buf, int size);

 protected:
  // Releases every text and both vectors' storage, and sets both counts to 0.
  void clear() override;

 private:
  // Makes room for slot m_inserted_num, and doubles the array when `index` lies past the end.
  void Grow(int index);
  // Replaces the contents with the flat form at `buf`: checked against `end` when it is set
  // (see the sized reader), trusted otherwise. False, leaving the array empty, when malformed.
  bool ReadFlatForm(const char* buf, const char* end);

  // One element per slot (m_arr_len of each): the text with a NUL after it, or null; and
  // its length, or -1 for a slot without text.
  std::vector<std::unique_ptr<char[]>> m_str_vec;
  std::vector<int> m_len_vec;
};
