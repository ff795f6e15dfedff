// What the object command panel asks of the console: its two file sends, each given the
// panel's file path in the local 8-bit encoding. The console implements it.
#pragma once

class ObjectFileSender {
 public:
  // The whole file as one write request.
  virtual void SendFile(const char* path) = 0;
  // The file as the phone's object frame (the file's raw bytes for the contact and calendar
  // categories), following the panel's category and object format.
  virtual void SendObjectFile(const char* path) = 0;

 protected:
  ~ObjectFileSender() = default;
};
