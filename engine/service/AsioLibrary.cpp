// The one translation unit that compiles Asio, its TLS layer and Beast for the
// whole process (separate compilation keeps the other adapter files lighter).
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
#include <boost/beast/src.hpp>
