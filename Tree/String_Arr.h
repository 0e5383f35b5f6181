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
  Dynamic_String_Arr(const Dynamic_String_Arr& other);
  Dynamic_String_Arr& operator=(const Dynamic_String_Arr& other);
  ~Dynamic_String_Arr() override;

  // The text of slot `index`, null for a slot without text or an index out of range.
  char* GetStr(int index) const override;
  // The length of slot `index`; -1 for a slot without text or an index out of range.
  int GetLength(int index) const;
  // Stores a copy of the first `len` bytes of `str` (up to its first NUL when `len` is
  // negative) at slot GetInsertedNum(), making room there as needed; `index` past the end
  // doubles the array. A negative index does nothing.
  void SetStr(int index, const char* str, int len) override;

  // Allocates a block (release it with delete[]), writes the flat form into it, stores its
  // address in `buf` and returns the number of bytes written.
  int FlattenToByteArray(char*& buf) const;
  // Replaces the contents with the entries of the flat form at `buf`. Trusts nothing it can
  // check without a size: a malformed count or length leaves the array empty. Untrusted
  // bytes go through the sized overload.
  void ReadFromFlattenedByteArray(char* buf);
  // Replaces the contents with the entries of the `size`-byte flat form at `buf`. Returns
  // false, leaving the array empty, when the block is malformed in any way; never reads
  // past `size` bytes.
  bool ReadFromFlattenedByteArray(const char* buf, int size);

 protected:
  void clear() override;

 private:
  std::vector<char*> m_str_vec;
  std::vector<int> m_len_vec;
};
