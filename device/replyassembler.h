#pragma once
class ReplyAssembler
{
};
