// list.cpp - the library's doubly linked list `array`, which owns its
// elements and their payloads, and its line-file reading and writing.
#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

array* newArray() {
  methodTrace trace("newArray");
  array* arr = static_cast<array*>(calloc(1, sizeof(array)));
  if (!arr) abort();
  return arr;
}

// Appends a new element holding `data` (owned by the list from now on).
static void appendElement(array& arr, void* data) {
  array_elem* elem = static_cast<array_elem*>(calloc(1, sizeof(array_elem)));
  if (!elem) abort();
  elem->data = data;
  if (!arr.first) {
    arr.first = elem;
    arr.count = 1;
  } else {
    elem->prior = arr.last;
    arr.last->next = elem;
    arr.count++;
  }
  arr.last = elem;
}

void push(array& arr, const void* add, int len) {
  methodTrace trace("push-2");
  if (len < 0) len = 0;
  char* data = static_cast<char*>(calloc(static_cast<size_t>(len) + 1, 1));
  if (!data) abort();
  if (add && len > 0) memcpy(data, add, static_cast<size_t>(len));
  appendElement(arr, data);
}

void push(array& arr, const char* add) {
  methodTrace trace("push-1");
  if (!add) add = "";
  push(arr, static_cast<const void*>(add), static_cast<int>(strlen(add) + 1));
}

void push(array& arr, void* add) {
  methodTrace trace("push-3");
  appendElement(arr, add);
}

array_elem* first(array& arr) { return arr.first; }
array_elem* next(array_elem& arr) { return arr.next; }
array_elem* last(array& arr) { return arr.last; }
array_elem* prior(array_elem& arr) { return arr.prior; }
int arraySize(array& arr) { return arr.count; }

void deleteArray(array* arr) {
  methodTrace trace("deleteArray");
  if (!arr) return;
  array_elem* elem = arr->first;
  while (elem) {
    array_elem* following = elem->next;
    free(elem->data);
    free(elem);
    elem = following;
  }
  free(arr);
}

void arrayToFile(const char* file, array* arr) {
  methodTrace trace("arrayToFile");
  if (!file) return;
  unlink(file);
  OwnedFile out(fopen(file, "w"));
  if (arr) {
    if (out) {
      for (array_elem* e = arr->first; e; e = e->next) {
        fputs(static_cast<const char*>(e->data), out.get());
        fputc('\n', out.get());
      }
    } else {
      logOnly("", "Warning: Could not open file %s. %s.\n", file, strerror(errno));
    }
  }
}

array* fileToArray(const char* file) {
  methodTrace trace("fileToArray");
  array* arr = newArray();
  OwnedFile in(file ? fopen(file, "r") : nullptr);
  if (!in) return arr;
  char buff[MAINT_BUFF];
  // A line that reaches the end of the file while it is read (no final
  // newline) is not taken.
  while (fgets(buff, sizeof buff, in.get()) && !feof(in.get())) {
    chomp(buff);
    push(*arr, static_cast<const char*>(buff));
  }
  return arr;
}

void logAndPrint(char s, const char* indent, array& line) {
  for (array_elem* e = line.first; e; e = e->next) {
    logAndPrint(s, indent, static_cast<const char*>(e->data));
  }
}
