#pragma once
// The file service: a thin layer over the operating system's files for the capture file.
// (Scaffold: completed with capture.)

#include <QString>

class TextStream
{
public:
    virtual ~TextStream() = default;
    // Syncs and closes the file; returns the error text, empty on success.
    virtual QString Close() = 0;
};

class FileService
{
public:
    virtual ~FileService() = default;
};
