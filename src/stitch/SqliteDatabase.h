#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace quiltara {

// What went wrong in SQLite, in its own words with what was being done.
class SqliteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One prepared statement of a SqliteDatabase: values bound by place (from 1),
// run by Step(), and Reset() for the next row.
class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, const std::string& sql);

    SqliteStatement& Bind(int place, std::int64_t value);
    SqliteStatement& Bind(int place, double value);
    SqliteStatement& Bind(int place, const std::string& text);
    SqliteStatement& BindNull(int place);
    // The bytes are copied by SQLite when bound, so they need not outlive the call.
    SqliteStatement& BindBlob(int place, std::span<const unsigned char> bytes);

    // Runs the statement to its next row: true while it gives one.
    bool Step();
    // Runs a statement that gives no rows, then resets it for the next use.
    void Run();
    void Reset();

    std::int64_t Integer(int column) const;
    std::string Text(int column) const;
    std::span<const unsigned char> Blob(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    void Check(int result, const char* doing) const;

    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};

// An SQLite database file, open for as long as the object lives.
class SqliteDatabase {
public:
    enum class Mode { ReadOnly, Create };

    SqliteDatabase(const std::string& path, Mode mode);

    // Runs one or more statements that give no rows.
    void Execute(const std::string& sql);
    SqliteStatement Prepare(const std::string& sql) { return SqliteStatement(db_.get(), sql); }

    // Closes the file now, so that a failure to write the last pages is
    // reported (the destructor cannot report one).
    void Close();

    sqlite3* Handle() const { return db_.get(); }

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    std::unique_ptr<sqlite3, Closer> db_;
};

} // namespace quiltara
